// The narrow command line against its wide original: which lines reach the wrapper's
// switches exactly (code page 1252).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/command_line_exactness.h"

namespace {

struct Case {
  const char* label;
  std::string narrowLine;  // as the system converts it (best fit)
  std::wstring wideLine;
  std::vector<const char*> argv;  // as the runtime splits the narrow line
  int exact;
};

TEST(CommandLineExactness, OnlyArgumentsThatReadBackExactlyPass) {
  ASSERT_EQ(GetACP(), 1252u) << "these cases are written for the code page 1252";
  const Case cases[] = {
      {"ASCII", "\"C:\\w.exe\" /s P=1", L"\"C:\\w.exe\" /s P=1", {"C:\\w.exe", "/s", "P=1"}, 1},
      {"a folder the code page holds", "w.exe /INSTALLDIRPUBRTQ=C:\\J\xFCrgen",
       L"w.exe /INSTALLDIRPUBRTQ=C:\\J\u00fcrgen", {"w.exe", "/INSTALLDIRPUBRTQ=C:\\J\xFCrgen"}, 1},
      {"a folder switch with a look-alike", "w.exe /INSTALLDIRPUBRTQ=C:\\Lukasz",
       L"w.exe /INSTALLDIRPUBRTQ=C:\\\u0141ukasz", {"w.exe", "/INSTALLDIRPUBRTQ=C:\\Lukasz"}, 0},
      {"an argument handed on, no counterpart", "w.exe /s TARGETDIR=C:\\??",
       L"w.exe /s TARGETDIR=C:\\\u674e\u96f7", {"w.exe", "/s", "TARGETDIR=C:\\??"}, 0},
      // Best fit turns the ideographic space into a blank: the runtime sees two arguments.
      {"an ideographic space", "w.exe a b", L"w.exe a\u3000b", {"w.exe", "a", "b"}, 0},
      // The program path is never used: a user's own folder outside the code page is fine.
      {"program path outside the code page", "\"C:\\users\\??\\w.exe\" /s P=1",
       L"\"C:\\users\\\u674e\u96f7\\w.exe\" /s P=1", {"C:\\users\\??\\w.exe", "/s", "P=1"}, 1},
      {"program path and an argument outside", "\"C:\\users\\??\\w.exe\" /s P=Lukasz",
       L"\"C:\\users\\\u674e\u96f7\\w.exe\" /s P=\u0141ukasz",
       {"C:\\users\\??\\w.exe", "/s", "P=Lukasz"}, 0},
      // The runtime reads "" inside quotes as a quote and stays quoted; the platform's wide
      // split ends the quotes there. Exact text split otherwise is still exact text.
      {"splitters differing on doubled quotes", "\"C:\\w.exe\" \"a\"\"b c\" d",
       L"\"C:\\w.exe\" \"a\"\"b c\" d", {"C:\\w.exe", "a\"b c", "d"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(AreArgumentsExactOf(c.narrowLine.c_str(), c.wideLine.c_str(),
                                  static_cast<int>(c.argv.size()), c.argv.data()),
              c.exact);
  }
}

}  // namespace
