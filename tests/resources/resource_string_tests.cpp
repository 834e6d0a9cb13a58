// String 4 of the built wrapper, the message of the engine gate: the UTF-16 text stored for
// each of its ten languages, and the ANSI bytes LoadStringA gives a user of each locale, which
// is what the wrapper puts in its message box. The ANSI side comes from string_probe runs
// that ctest starts, one Wine process per locale (LC_ALL), before this test.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"

namespace {

// The stored texts. Blanks matter: two after the first sentence in the Latin-script ones,
// two at the end of the Swedish one.
// 1033 English (United States)
const wchar_t kEnglishText[] =
    L"Zelvan(TM) could not be installed because the Windows Installer 2.0 "
    L"Engine is not installed on this system.  Please download and install "
    L"Windows Installer 2.0 or higher from the Microsoft web site.";
// 7 German
const wchar_t kGermanText[] =
    L"Zelvan(TM) konnte nicht installiert werden, da Windows Installer 2.0 auf "
    L"diesem System nicht installiert ist.  Laden Sie Windows Installer 2.0 "
    L"oder höher von der Microsoft-Website herunter und installieren Sie es.";
// 10 Spanish
const wchar_t kSpanishText[] =
    L"Zelvan(TM) no se ha podido instalar porque el motor Windows Installer "
    L"2.0 Engine no está instalado en el sistema.  Descargue e instale el "
    L"motor Windows Installer 2.0 o una versión posterior de la página web de "
    L"Microsoft.";
// 12 French
const wchar_t kFrenchText[] =
    L"Impossible d'installer Zelvan(TM), car le moteur Windows Installer 2.0 "
    L"n'est pas installé sur ce système.  Téléchargez Windows Installer 2.0 ou "
    L"ultérieur à partir du site Web de Microsoft et installez-le.";
// 16 Italian
const wchar_t kItalianText[] =
    L"Installazione di Zelvan(TM) non riuscita: Windows Installer 2.0 Engine "
    L"non è installato nel sistema corrente.  Scaricare e installare Windows "
    L"Installer 2.0 o versioni successive dal sito Web Microsoft.";
// 29 Swedish
const wchar_t kSwedishText[] =
    L"Zelvan(TM) kunde inte installeras därför att Windows Installer 2.0 "
    L"Engine inte är installerad på detta system.  Ladda gärna ned och "
    L"installera Windows Installer 2.0 eller senare version från Microsifts "
    L"webbsida.  ";
// 1028 Chinese (Traditional)
const wchar_t kChineseTraditionalText[] =
    L"無法安裝 Zelvan(TM)，因為此系統上未安裝 Windows Installer 2.0 引擎。請從 Microsoft 網站下載並安裝 "
    L"Windows Installer 2.0 或更高版本。";
// 1041 Japanese
const wchar_t kJapaneseText[] =
    L"Windows Installer 2.0 Engine がこのシステムにインストールされていないため、Zelvan(TM) "
    L"をインストールできませんでした。Windows Installer 2.0 以上を Microsoft Web "
    L"サイトからダウンロードし、インストールしてください。";
// 1042 Korean
const wchar_t kKoreanText[] =
    L"시스템에 Windows Installer 2.0 Engine이 설치되어 있지 않으므로 Zelvan(TM)를 설치하지 못했습니다. "
    L"Microsoft 웹 사이트에서 Windows Installer 2.0 이상 버전을 다운로드하여 설치하십시오.";
// 2052 Chinese (Simplified)
const wchar_t kChineseSimplifiedText[] =
    L"由于未在此系统上安装 Windows Installer 2.0 版引擎，因此无法安装 Zelvan(TM)。请从 Microsoft 的 "
    L"Web 站点下载并安装 Windows Installer 2.0 版或更高版本。";

// The same texts in the ANSI code page of their locale (1252, 950, 932, 949, 936).
// 1033, cp1252
const char kEnglishAnsi[] =
    "Zelvan(TM) could not be installed because the Windows Installer 2.0 Engine is not inst"
    "alled on this system.  Please download and install Windows Installer 2.0 or higher fro"
    "m the Microsoft web site.";
// 7, cp1252
const char kGermanAnsi[] =
    "Zelvan(TM) konnte nicht installiert werden, da Windows Installer 2.0 auf diesem System"
    " nicht installiert ist.  Laden Sie Windows Installer 2.0 oder h\xF6her von der Microso"
    "ft-Website herunter und installieren Sie es.";
// 10, cp1252
const char kSpanishAnsi[] =
    "Zelvan(TM) no se ha podido instalar porque el motor Windows Installer 2.0 Engine no es"
    "t\xE1 instalado en el sistema.  Descargue e instale el motor Windows Installer 2.0 o u"
    "na versi\xF3n posterior de la p\xE1gina web de Microsoft.";
// 12, cp1252
const char kFrenchAnsi[] =
    "Impossible d'installer Zelvan(TM), car le moteur Windows Installer 2.0 n'est pas insta"
    "ll\xE9 sur ce syst\xE8me.  T\xE9l\xE9" "chargez Windows Installer 2.0 ou ult\xE9rieur "
    "\xE0 partir du site Web de Microsoft et installez-le.";
// 16, cp1252
const char kItalianAnsi[] =
    "Installazione di Zelvan(TM) non riuscita: Windows Installer 2.0 Engine non \xE8 instal"
    "lato nel sistema corrente.  Scaricare e installare Windows Installer 2.0 o versioni su"
    "ccessive dal sito Web Microsoft.";
// 29, cp1252
const char kSwedishAnsi[] =
    "Zelvan(TM) kunde inte installeras d\xE4rf\xF6r att Windows Installer 2.0 Engine inte "
    "\xE4r installerad p\xE5 detta system.  Ladda g\xE4rna ned och installera Windows Insta"
    "ller 2.0 eller senare version fr\xE5n Microsifts webbsida.  ";
// 1028, cp950
const char kChineseTraditionalAnsi[] =
    "\xB5L\xAAk\xA6w\xB8\xCB Zelvan(TM)\xA1" "A\xA6]\xAC\xB0\xA6\xB9\xA8t\xB2\xCE\xA4W\xA5"
    "\xBC\xA6w\xB8\xCB Windows Installer 2.0 \xA4\xDE\xC0\xBA\xA1" "C\xBD\xD0\xB1q Microsof"
    "t \xBA\xF4\xAF\xB8\xA4U\xB8\xFC\xA8\xC3\xA6w\xB8\xCB Windows Installer 2.0 \xA9\xCE"
    "\xA7\xF3\xB0\xAA\xAA\xA9\xA5\xBB\xA1" "C";
// 1041, cp932
const char kJapaneseAnsi[] =
    "Windows Installer 2.0 Engine \x82\xAA\x82\xB1\x82\xCC\x83V\x83X\x83" "e\x83\x80\x82"
    "\xC9\x83" "C\x83\x93\x83X\x83g\x81[\x83\x8B\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xC8"
    "\x82\xA2\x82\xBD\x82\xDF\x81" "AZelvan(TM) \x82\xF0\x83" "C\x83\x93\x83X\x83g\x81[\x83"
    "\x8B\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81" "BWindows In"
    "staller 2.0 \x88\xC8\x8F\xE3\x82\xF0 Microsoft Web \x83T\x83" "C\x83g\x82\xA9\x82\xE7"
    "\x83_\x83" "E\x83\x93\x83\x8D\x81[\x83h\x82\xB5\x81" "A\x83" "C\x83\x93\x83X\x83g\x81["
    "\x83\x8B\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B";
// 1042, cp949
const char kKoreanAnsi[] =
    "\xBD\xC3\xBD\xBA\xC5\xDB\xBF\xA1 Windows Installer 2.0 Engine\xC0\xCC \xBC\xB3\xC4\xA1"
    "\xB5\xC7\xBE\xEE \xC0\xD6\xC1\xF6 \xBE\xCA\xC0\xB8\xB9\xC7\xB7\xCE Zelvan(TM)\xB8\xA6 "
    "\xBC\xB3\xC4\xA1\xC7\xCF\xC1\xF6 \xB8\xF8\xC7\xDF\xBD\xC0\xB4\xCF\xB4\xD9. Microsoft "
    "\xC0\xA5 \xBB\xE7\xC0\xCC\xC6\xAE\xBF\xA1\xBC\xAD Windows Installer 2.0 \xC0\xCC\xBB"
    "\xF3 \xB9\xF6\xC0\xFC\xC0\xBB \xB4\xD9\xBF\xEE\xB7\xCE\xB5\xE5\xC7\xCF\xBF\xA9 \xBC"
    "\xB3\xC4\xA1\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0.";
// 2052, cp936
const char kChineseSimplifiedAnsi[] =
    "\xD3\xC9\xD3\xDA\xCE\xB4\xD4\xDA\xB4\xCB\xCF\xB5\xCD\xB3\xC9\xCF\xB0\xB2\xD7\xB0 Windo"
    "ws Installer 2.0 \xB0\xE6\xD2\xFD\xC7\xE6\xA3\xAC\xD2\xF2\xB4\xCB\xCE\xDE\xB7\xA8\xB0"
    "\xB2\xD7\xB0 Zelvan(TM)\xA1\xA3\xC7\xEB\xB4\xD3 Microsoft \xB5\xC4 Web \xD5\xBE\xB5"
    "\xE3\xCF\xC2\xD4\xD8\xB2\xA2\xB0\xB2\xD7\xB0 Windows Installer 2.0 \xB0\xE6\xBB\xF2"
    "\xB8\xFC\xB8\xDF\xB0\xE6\xB1\xBE\xA1\xA3";

struct StoredText {
  LANGID language;
  const wchar_t* text;
};

// German, Spanish, French, Italian and Swedish are stored language-neutral (sublanguage 0).
const StoredText kStoredTexts[] = {
    {1033, kEnglishText},
    {7, kGermanText},
    {10, kSpanishText},
    {12, kFrenchText},
    {16, kItalianText},
    {29, kSwedishText},
    {1028, kChineseTraditionalText},
    {1041, kJapaneseText},
    {1042, kKoreanText},
    {2052, kChineseSimplifiedText},
};

struct LocaleCase {
  const char* locale;  // the probe's LC_ALL, without ".UTF-8"
  unsigned langid;     // what Wine makes of it
  unsigned codePage;
  const char* bytes;   // what LoadStringA must give
};

// Every language of the table in its home region, and for the five neutral entries a second
// region that has no entry of its own and must get the neutral one.
const LocaleCase kLocaleCases[] = {
    {"en_US", 1033, 1252, kEnglishAnsi},
    {"de_DE", 1031, 1252, kGermanAnsi},
    {"de_AT", 3079, 1252, kGermanAnsi},
    {"es_ES", 3082, 1252, kSpanishAnsi},
    {"es_MX", 2058, 1252, kSpanishAnsi},
    {"fr_FR", 1036, 1252, kFrenchAnsi},
    {"fr_CA", 3084, 1252, kFrenchAnsi},
    {"it_IT", 1040, 1252, kItalianAnsi},
    {"it_CH", 2064, 1252, kItalianAnsi},
    {"sv_SE", 1053, 1252, kSwedishAnsi},
    {"sv_FI", 2077, 1252, kSwedishAnsi},
    {"zh_TW", 1028, 950, kChineseTraditionalAnsi},
    {"ja_JP", 1041, 932, kJapaneseAnsi},
    {"ko_KR", 1042, 949, kKoreanAnsi},
    {"zh_CN", 2052, 936, kChineseSimplifiedAnsi},
};

std::string WrapperPath() { return BuildPath("kzt-wrapper.exe"); }

// String `index` of a string-table block: 16 counted UTF-16 strings one after the other.
// False when the block is too short to hold it.
bool StringOfBlock(const WCHAR* block, DWORD bytes, int index, std::wstring* text) {
  DWORD units = bytes / sizeof(WCHAR);
  DWORD at = 0;
  for (int i = 0; i <= index; ++i) {
    if (at >= units) return false;
    DWORD length = block[at++];
    if (units - at < length) return false;
    if (i == index) text->assign(reinterpret_cast<const wchar_t*>(block + at), length);
    at += length;
  }
  return true;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

// The value of "name=" in the probe's record; empty when absent.
std::string RecordValue(const std::string& record, const std::string& name) {
  for (const std::string& line : SplitLines(record)) {
    if (line.compare(0, name.size() + 1, name + "=") == 0) return line.substr(name.size() + 1);
  }
  return "";
}

TEST(ResourceStrings, StringFourIsStoredExactlyInEachLanguage) {
  HMODULE module = LoadLibraryExA(WrapperPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << WrapperPath() << " error " << GetLastError();
  for (const StoredText& stored : kStoredTexts) {
    SCOPED_TRACE(stored.language);
    // String 4 lies in block 4 / 16 + 1 = 1, at index 4 % 16 = 4.
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1),
                                  stored.language);
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(module, found);
    ASSERT_NE(loaded, nullptr);
    const WCHAR* block = static_cast<const WCHAR*>(LockResource(loaded));
    std::wstring text;
    ASSERT_TRUE(StringOfBlock(block, SizeofResource(module, found), 4, &text));
    EXPECT_EQ(text, std::wstring(stored.text));
  }
  FreeLibrary(module);
}

TEST(ResourceStrings, LoadStringAGivesTheTextInTheCodePageOfTheUsersLocale) {
  for (const LocaleCase& c : kLocaleCases) {
    SCOPED_TRACE(c.locale);
    std::string path = BuildPath(std::string("resource-probes/") + c.locale + ".txt");
    std::string record = ReadFileText(path);
    ASSERT_FALSE(record.empty())
        << path << " is missing: ctest runs resource_string_probe_" << c.locale << " first";
    // Read once: a record left from an earlier run must not stand in for a missing probe.
    DeleteFileA(path.c_str());
    // The probe's process really ran in that locale.
    EXPECT_EQ(RecordValue(record, "langid"), std::to_string(c.langid));
    EXPECT_EQ(RecordValue(record, "uilang"), std::to_string(c.langid));
    EXPECT_EQ(RecordValue(record, "acp"), std::to_string(c.codePage));
    EXPECT_EQ(RecordValue(record, "bytes"), Hex(c.bytes));
  }
}

}  // namespace
