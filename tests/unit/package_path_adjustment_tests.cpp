// The package path named through SysWOW64 when the engine runs from there: one occurrence,
// exact case, same length, and never a byte beyond the text's own terminator.
#include "engine/package_path_adjustment.h"

#include <gtest/gtest.h>

#include <string>

#include "guarded_buffer.h"

namespace {

struct ReplaceCase {
  std::string text;
  const char* search;
  const char* replacement;
  std::string expected;
};

TEST(ReplaceSameLengthTest, FirstExactOccurrenceOfEqualLength) {
  const ReplaceCase cases[] = {
      {"C:\\Windows\\system32\\p.msi", "system32", "SysWOW64", "C:\\Windows\\SysWOW64\\p.msi"},
      {"C:\\system32\\x\\system32\\p.msi", "system32", "SysWOW64", "C:\\SysWOW64\\x\\system32\\p.msi"},
      {"system32system32", "system32", "SysWOW64", "SysWOW64system32"},
      {"C:\\Windows\\System32\\p.msi", "system32", "SysWOW64", "C:\\Windows\\System32\\p.msi"},
      {"C:\\Windows\\SYSTEM32\\p.msi", "system32", "SysWOW64", "C:\\Windows\\SYSTEM32\\p.msi"},
      {"C:\\Windows\\System32\\system32", "system32", "SysWOW64", "C:\\Windows\\System32\\SysWOW64"},
      {"C:\\Windows\\system3\\p.msi", "system32", "SysWOW64", "C:\\Windows\\system3\\p.msi"},
      {"C:\\Windows\\system32", "system32", "SysWOW64", "C:\\Windows\\SysWOW64"},
      {"system32", "system32", "SysWOW64", "SysWOW64"},
      {"", "system32", "SysWOW64", ""},
      // Lengths that differ leave the text alone even when the search string is there.
      {"abcabc", "abc", "wxyz", "abcabc"},
      {"abcabc", "abc", "wx", "abcabc"},
      {"C:\\system32\\p.msi", "system32", "SysWOW6", "C:\\system32\\p.msi"},
      {"C:\\system32\\p.msi", "system32", "SysWOW644", "C:\\system32\\p.msi"},
      {"aaaa", "aa", "bb", "bbaa"},
      {"ab", "", "", "ab"},
  };
  for (const ReplaceCase& c : cases) {
    GuardedBuffer buffer(c.text.size() + 1);
    buffer.Set(c.text);
    EXPECT_EQ(buffer.data(), ReplaceSameLength(buffer.data(), c.search, c.replacement));
    EXPECT_EQ(c.expected, buffer.Text()) << c.text << " / " << c.search << " / " << c.replacement;
    EXPECT_TRUE(buffer.Terminated());
    EXPECT_TRUE(buffer.GuardIntact());
  }
}

TEST(ReplaceSameLengthTest, BytesAfterTheTerminatorAreNotTouched) {
  // A 260-character path buffer with leftovers behind the text, as a reused buffer has.
  GuardedBuffer buffer(260, 'L');
  buffer.Set("C:\\system32");
  const std::string before = buffer.Bytes();
  ReplaceSameLength(buffer.data(), "system32", "SysWOW64");
  std::string expected = before;
  expected.replace(3, 8, "SysWOW64");
  EXPECT_EQ(expected, buffer.Bytes());
}

struct AdjustCase {
  const char* enginePath;
  const char* systemFolder;
  std::string packagePath;
  std::string expected;
};

TEST(AdjustPackagePathForEngineTest, OnlyAPackageBelowTheSystemFolderIsNamedThroughSysWOW64) {
  const char* wow = "C:\\Windows\\SysWOW64\\msiexec.exe";
  const char* system = "C:\\Windows\\system32";
  const AdjustCase cases[] = {
      // A service account's profile below the system folder.
      {wow, system, "C:\\Windows\\system32\\config\\systemprofile\\p.msi",
       "C:\\Windows\\SysWOW64\\config\\systemprofile\\p.msi"},
      {wow, "C:\\WINDOWS\\system32", "c:\\windows\\system32\\config\\p.msi", "c:\\windows\\SysWOW64\\config\\p.msi"},
      // Only the system folder's own name; a "system32" further down stays.
      {wow, system, "C:\\Windows\\system32\\config\\system32\\p.msi",
       "C:\\Windows\\SysWOW64\\config\\system32\\p.msi"},
      // A folder of the user's that is named system32 is no redirection.
      {wow, system, "C:\\Users\\Ann\\system32\\LocalLow\\p.msi", "C:\\Users\\Ann\\system32\\LocalLow\\p.msi"},
      {wow, system, "D:\\Windows\\system32\\p.msi", "D:\\Windows\\system32\\p.msi"},
      {wow, system, "C:\\Windows\\system32x\\p.msi", "C:\\Windows\\system32x\\p.msi"},
      {wow, system, "C:\\Windows\\system32", "C:\\Windows\\system32"},
      // The same folder spelt with a capital S is left alone, as is any engine elsewhere.
      {wow, system, "C:\\Windows\\System32\\p.msi", "C:\\Windows\\System32\\p.msi"},
      {"C:\\Windows\\system32\\msiexec.exe", system, "C:\\Windows\\system32\\p.msi", "C:\\Windows\\system32\\p.msi"},
      {"C:\\Windows\\syswow64\\msiexec.exe", system, "C:\\Windows\\system32\\p.msi", "C:\\Windows\\system32\\p.msi"},
      {"", system, "C:\\Windows\\system32\\p.msi", "C:\\Windows\\system32\\p.msi"},
      {wow, "", "C:\\Windows\\system32\\p.msi", "C:\\Windows\\system32\\p.msi"},
  };
  for (const AdjustCase& c : cases) {
    GuardedBuffer packagePath(260);
    packagePath.Set(c.packagePath);
    AdjustPackagePathForEngine(packagePath.data(), c.enginePath, c.systemFolder);
    EXPECT_EQ(c.expected, packagePath.Text()) << c.enginePath << " / " << c.systemFolder << " / " << c.packagePath;
    EXPECT_TRUE(packagePath.GuardIntact());
  }
}

}  // namespace
