// Wide text and paths into the ANSI code page (1252 here): exactly, by the short form of an
// existing path, or refused with the reason; never a best-fit look-alike.
#include <gtest/gtest.h>

#include <string>

#include "../unit/guarded_buffer.h"
#include "support/exact_narrow_path.h"
#include "test_support.h"

namespace {

const wchar_t kJuergen[] = L"J\u00fcrgen";      // in 1252: ü is 0xFC
const wchar_t kLukasz[] = L"\u0141ukasz";       // best fit: "Lukasz"
const wchar_t kLiLei[] = L"\u674e\u96f7";        // nothing in 1252: "??"

// The long form of an existing path, as the platform names it; empty when it does not exist.
std::wstring LongPathOf(const std::wstring& path) {
  wchar_t longPath[MAX_PATH] = {};
  DWORD length = GetLongPathNameW(path.c_str(), longPath, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(longPath) : std::wstring();
}

// Runs one conversion into a guarded buffer and reports result, last error and text.
struct Outcome {
  int result;
  DWORD error;
  std::string text;
  bool guardIntact;
};

Outcome Convert(int (*convert)(const WCHAR*, char*, size_t), const std::wstring& wide,
                size_t capacity) {
  GuardedBuffer buffer(capacity, '#');
  SetLastError(0xBAD);
  Outcome outcome;
  outcome.result = convert(wide.c_str(), buffer.data(), capacity);
  outcome.error = outcome.result ? 0 : GetLastError();
  outcome.text = capacity > 0 ? buffer.Text() : std::string();
  outcome.guardIntact = buffer.GuardIntact();
  return outcome;
}

class ExactNarrowPath : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 1252u) << "these cases are written for the code page 1252";
  }
};

TEST_F(ExactNarrowPath, TextIsConvertedOnlyWhenEveryCharacterHasItsOwnCounterpart) {
  struct Case {
    const char* label;
    std::wstring wide;
    int result;
    DWORD error;
    std::string text;
  };
  const Case cases[] = {
      {"ASCII", L"C:\\users\\anna", 1, 0, "C:\\users\\anna"},
      {"held by the code page", std::wstring(L"C:\\users\\") + kJuergen, 1, 0, "C:\\users\\J\xFCrgen"},
      {"the empty text", L"", 1, 0, ""},
      {"a best-fit look-alike", std::wstring(L"C:\\users\\") + kLukasz, 0,
       ERROR_NO_UNICODE_TRANSLATION, ""},
      {"no counterpart at all", std::wstring(L"C:\\users\\") + kLiLei, 0,
       ERROR_NO_UNICODE_TRANSLATION, ""},
      // Best fit maps the ideographic space to a blank: one argument would become two.
      {"ideographic space", L"a\u3000b", 0, ERROR_NO_UNICODE_TRANSLATION, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Outcome outcome = Convert(ConvertWideExactly, c.wide, 64);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(outcome.text, c.text);
    EXPECT_TRUE(outcome.guardIntact);
  }
}

TEST_F(ExactNarrowPath, TextMustFitWithItsTerminator) {
  const std::wstring text = std::wstring(L"C:\\") + kJuergen;  // 9 characters
  Outcome fits = Convert(ConvertWideExactly, text, 10);
  EXPECT_EQ(fits.result, 1);
  EXPECT_EQ(fits.text, "C:\\J\xFCrgen");
  EXPECT_TRUE(fits.guardIntact);

  for (size_t capacity : {9u, 1u}) {
    SCOPED_TRACE(capacity);
    Outcome refused = Convert(ConvertWideExactly, text, capacity);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(refused.text, "");  // nothing cut is left behind
    EXPECT_TRUE(refused.guardIntact);
  }
  Outcome none = Convert(ConvertWideExactly, text, 0);
  EXPECT_EQ(none.result, 0);
  EXPECT_EQ(none.error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(none.guardIntact);
}

// Folders of each kind of name, with the best-fit look-alike "Lukasz" beside "Łukasz": the
// short form must name the folder itself, never its look-alike.
TEST_F(ExactNarrowPath, ExistingPathOutsideTheCodePageIsGivenByItsShortForm) {
  const std::wstring scratch = WideOf(MakeScratchFolder("exact-path"));
  const std::wstring juergen = scratch + L"\\" + kJuergen;
  const std::wstring lukasz = scratch + L"\\" + kLukasz;
  const std::wstring lookAlike = scratch + L"\\Lukasz";
  const std::wstring liLei = scratch + L"\\" + kLiLei;
  for (const std::wstring& folder : {juergen, lukasz, lookAlike, liLei}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  }

  Outcome held = Convert(ConvertWidePathExactly, juergen, MAX_PATH);
  EXPECT_EQ(held.result, 1);
  EXPECT_EQ(WideOf(held.text), juergen) << "a name the code page holds keeps its long form";

  for (const std::wstring& folder : {lukasz, liLei, liLei + L"\\"}) {
    SCOPED_TRACE(testing::Message() << "folder of " << folder.size() << " characters");
    Outcome outcome = Convert(ConvertWidePathExactly, folder, MAX_PATH);
    ASSERT_EQ(outcome.result, 1) << "error " << outcome.error;
    EXPECT_TRUE(outcome.guardIntact);
    EXPECT_EQ(outcome.text.find('?'), std::string::npos) << outcome.text;
    EXPECT_NE(WideOf(outcome.text), folder);
    // The narrow text names the folder itself.
    EXPECT_EQ(LongPathOf(WideOf(outcome.text)), LongPathOf(folder)) << outcome.text;
    EXPECT_NE(LongPathOf(WideOf(outcome.text)), LongPathOf(lookAlike)) << outcome.text;
  }

  // A file below such a folder: the short form covers the whole path.
  const std::wstring file = liLei + L"\\kzt1.6.0_32.msi";
  HANDLE created = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);
  Outcome outcome = Convert(ConvertWidePathExactly, file, MAX_PATH);
  ASSERT_EQ(outcome.result, 1);
  EXPECT_EQ(LongPathOf(WideOf(outcome.text)), LongPathOf(file)) << outcome.text;
}

TEST_F(ExactNarrowPath, PathWithoutAnExactShortFormIsRefused) {
  const std::wstring scratch = WideOf(MakeScratchFolder("exact-path-refused"));
  const std::wstring liLei = scratch + L"\\" + kLiLei;
  ASSERT_TRUE(CreateDirectoryW(liLei.c_str(), nullptr));
  wchar_t shortForm[MAX_PATH] = {};
  DWORD shortLength = GetShortPathNameW(liLei.c_str(), shortForm, MAX_PATH);
  ASSERT_GT(shortLength, 0u);
  ASSERT_LT(shortLength, static_cast<DWORD>(MAX_PATH));

  struct Case {
    const char* label;
    std::wstring path;
    size_t capacity;
    DWORD error;
  };
  const Case cases[] = {
      // Not there, so no short form: neither the look-alike nor anything else.
      {"missing folder", scratch + L"\\" + kLukasz, MAX_PATH, ERROR_NO_UNICODE_TRANSLATION},
      {"missing file below an existing folder", liLei + L"\\missing.msi", MAX_PATH,
       ERROR_NO_UNICODE_TRANSLATION},
      // There, but its short form does not fit: too long, not untranslatable.
      {"short form one too long", liLei, shortLength, ERROR_FILENAME_EXCED_RANGE},
      // Held by the code page but too long: refused before any short form is looked for.
      {"long text held by the code page", scratch, scratch.size(), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Outcome outcome = Convert(ConvertWidePathExactly, c.path, c.capacity);
    EXPECT_EQ(outcome.result, 0) << outcome.text;
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(outcome.text, "");
    EXPECT_TRUE(outcome.guardIntact);
  }
  Outcome fits = Convert(ConvertWidePathExactly, liLei, shortLength + 1);
  EXPECT_EQ(fits.result, 1) << "error " << fits.error;
  EXPECT_EQ(WideOf(fits.text), std::wstring(shortForm));
}

TEST_F(ExactNarrowPath, NarrowTextIsExactOnlyWhenItReadsBackAsTheWideText) {
  EXPECT_EQ(IsExactNarrowOf("J\xFCrgen", kJuergen), 1);
  EXPECT_EQ(IsExactNarrowOf("", L""), 1);
  EXPECT_EQ(IsExactNarrowOf("Lukasz", kLukasz), 0);
  EXPECT_EQ(IsExactNarrowOf("??", kLiLei), 0);
  EXPECT_EQ(IsExactNarrowOf("a b", L"a\u3000b"), 0);
  EXPECT_EQ(IsExactNarrowOf("abc", L"abcd"), 0);  // a prefix is not the text
  EXPECT_EQ(IsExactNarrowOf("abcd", L"abc"), 0);
}

}  // namespace
