// The wrapper's arguments as the runtime library hands them over (quotes already removed),
// and the exact option string the installer engine then receives. Only languages that
// every kind of build accepts or rejects are used here; the build-dependent ones are in
// transform_language_tests.cpp.
#include "driver/command_line.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kEnglish = 1033;

struct Parsed {
  int result;
  std::unique_ptr<WrapperOptions> options;
};

// argv[0] is the program path and is never read as an option.
Parsed Parse(const std::vector<std::string>& arguments, uint16_t defaultLanguage = kEnglish,
             const char* programPath = "C:\\Downloads\\kzt-wrapper.exe") {
  std::vector<const char*> argv;
  argv.push_back(programPath);
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  Parsed parsed{0, std::unique_ptr<WrapperOptions>(new WrapperOptions)};
  ResetWrapperOptions(parsed.options.get(), defaultLanguage);
  parsed.result = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options.get());
  return parsed;
}

std::string Describe(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += "[" + argument + "]";
  return text;
}

TEST(ResetWrapperOptionsTest, EveryFieldTakesItsDefault) {
  std::unique_ptr<WrapperOptions> options(new WrapperOptions);
  memset(options.get(), 'x', sizeof *options);
  ResetWrapperOptions(options.get(), 2052);
  EXPECT_EQ(2052, options->transformLanguage);
  EXPECT_STREQ("", options->optionString);
  EXPECT_FALSE(options->silent);
  EXPECT_FALSE(options->addLocalGiven);
  EXPECT_STREQ("", options->runtimeInstallDir);
  EXPECT_STREQ("", options->databaseInstallDir);
}

struct OptionCase {
  std::vector<std::string> arguments;
  std::string optionString;
  bool silent;
  bool addLocalGiven;
};

TEST(ParseCommandLineTest, OptionStringSilentAndAddLocalByteForByte) {
  const OptionCase cases[] = {
      {{}, "", false, false},
      {{"P=1"}, "P=1 ", false, false},
      {{"/s"}, "", true, false},
      {{"/s", "P=1"}, "P=1 ", true, false},
      // "/v" pieces are framed by a blank on each side.
      {{"/vP=1"}, " P=1 ", false, false},
      {{"/v"}, "  ", false, false},
      {{"/v/qn"}, " /qn ", false, false},
      // "/v\"": the first three characters and the last one are dropped, whatever it is.
      {{"/v\"P=1\""}, " P=1 ", false, false},
      {{"/v\"P=1"}, " P= ", false, false},
      {{"/v\""}, "  ", false, false},
      {{"/v\"x"}, "  ", false, false},
      {{"/v\"ab"}, " a ", false, false},
      {{"/v\"\"\""}, " \" ", false, false},
      // Blanks inside an argument are kept as they are.
      {{"/v  A=1 "}, "   A=1  ", false, false},
      {{"/v\" A B \""}, "  A B  ", false, false},
      {{" P=1  "}, " P=1   ", false, false},
      {{"INSTALLDIR=C:\\Program Files\\Kit"}, "INSTALLDIR=C:\\Program Files\\Kit ", false, false},
      {{""}, " ", false, false},
      // Pieces follow argument order; a "/v" piece after another piece gives two blanks.
      {{"/vA=1", "/vB=2"}, " A=1  B=2 ", false, false},
      {{"P=1", "/vQ=2"}, "P=1  Q=2 ", false, false},
      {{"/vQ=2", "P=1"}, " Q=2 P=1 ", false, false},
      {{"P=1", "R=2", "/v\"/qn\""}, "P=1 R=2  /qn ", false, false},
      // Only "/s" and "/v" in lower case are the wrapper's own.
      {{"/S"}, "/S ", false, false},
      {{"/VP=1"}, "/VP=1 ", false, false},
      {{"/s "}, "/s  ", false, false},
      {{"/silent"}, "/silent ", false, false},
      {{"-s"}, "-s ", false, false},
      {{"x/vP=1"}, "x/vP=1 ", false, false},
      {{"/s", "/s"}, "", true, false},
      // ADDLOCAL= counts only in a passed-through argument, anywhere in it, in capitals.
      {{"ADDLOCAL=ALL"}, "ADDLOCAL=ALL ", false, true},
      {{"MYADDLOCAL=1"}, "MYADDLOCAL=1 ", false, true},
      {{"addlocal=ALL"}, "addlocal=ALL ", false, false},
      {{"ADDLOCAL"}, "ADDLOCAL ", false, false},
      {{"/vADDLOCAL=ALL"}, " ADDLOCAL=ALL ", false, false},
      {{"/v\"ADDLOCAL=ALL\""}, " ADDLOCAL=ALL ", false, false},
      {{"/s", "/vADDLOCAL=X", "ADDLOCAL=Y"}, " ADDLOCAL=X ADDLOCAL=Y ", true, true},
      // Anything holding "/lang=" is consumed, even inside a property or a "/v" argument.
      {{"/lang=1041"}, "", false, false},
      {{"P=/lang=1041"}, "", false, false},
      {{"/vX=/lang=2052"}, "", false, false},
      {{"ADDLOCAL=/lang=1"}, "", false, false},
      {{"/LANG=1041"}, "/LANG=1041 ", false, false},
      {{"/lang1041"}, "/lang1041 ", false, false},
      // Folder switches append nothing; a "/v" argument that names one is a "/v" piece.
      {{"/INSTALLDIRPUBRTQ=C:\\Rt"}, "", false, false},
      {{"/INSTALLDIRZELVANDB=C:\\Db"}, "", false, false},
      {{"/v/INSTALLDIRPUBRTQ=C:\\Rt"}, " /INSTALLDIRPUBRTQ=C:\\Rt ", false, false},
      {{"/installdirpubrtq=C:\\Rt"}, "/installdirpubrtq=C:\\Rt ", false, false},
      {{"/INSTALLDIRPUBRTQ"}, "/INSTALLDIRPUBRTQ ", false, false},
      {{"ADDLOCAL=/INSTALLDIRZELVANDB=C:\\Db"}, "", false, false},
  };
  for (const OptionCase& c : cases) {
    Parsed parsed = Parse(c.arguments);
    SCOPED_TRACE(Describe(c.arguments));
    EXPECT_EQ(1, parsed.result);
    EXPECT_EQ(c.optionString, parsed.options->optionString);
    EXPECT_EQ(c.silent, parsed.options->silent);
    EXPECT_EQ(c.addLocalGiven, parsed.options->addLocalGiven);
  }
}

TEST(ParseCommandLineTest, ProgramPathIsNeverReadAsAnOption) {
  Parsed parsed = Parse({}, kEnglish, "/s");
  EXPECT_FALSE(parsed.options->silent);
  parsed = Parse({"P=1"}, kEnglish, "/lang=1041");
  EXPECT_EQ(kEnglish, parsed.options->transformLanguage);
  EXPECT_STREQ("P=1 ", parsed.options->optionString);
}

struct FolderCase {
  std::vector<std::string> arguments;
  std::string runtimeInstallDir;
  std::string databaseInstallDir;
};

TEST(ParseCommandLineTest, FolderSwitches) {
  const FolderCase cases[] = {
      {{"/INSTALLDIRPUBRTQ=C:\\Rt"}, "C:\\Rt", ""},
      {{"/INSTALLDIRZELVANDB=D:\\Db"}, "", "D:\\Db"},
      {{"/INSTALLDIRPUBRTQ=C:\\Program Files\\Rt"}, "C:\\Program Files\\Rt", ""},
      // The last one wins; an empty value empties the folder.
      {{"/INSTALLDIRPUBRTQ=C:\\A", "/INSTALLDIRPUBRTQ=C:\\B"}, "C:\\B", ""},
      {{"/INSTALLDIRPUBRTQ=C:\\A", "/INSTALLDIRPUBRTQ="}, "", ""},
      {{"/INSTALLDIRZELVANDB=C:\\A", "/INSTALLDIRZELVANDB="}, "", ""},
      // The value is everything after the first "=" of the argument.
      {{"/INSTALLDIRPUBRTQ=C:\\a=b"}, "C:\\a=b", ""},
      {{"X=/INSTALLDIRZELVANDB=D:\\Db"}, "", "/INSTALLDIRZELVANDB=D:\\Db"},
      {{"prefix/INSTALLDIRPUBRTQ=C:\\Rt"}, "C:\\Rt", ""},
      // The runtime switch is tested first.
      {{"/INSTALLDIRPUBRTQ=/INSTALLDIRZELVANDB=x"}, "/INSTALLDIRZELVANDB=x", ""},
      {{"/INSTALLDIRZELVANDB=/INSTALLDIRPUBRTQ=x"}, "/INSTALLDIRPUBRTQ=x", ""},
      {{"/INSTALLDIRPUBRTQ=R", "/INSTALLDIRZELVANDB=D", "P=1"}, "R", "D"},
      {{"/vINSTALLDIR=C:\\Rt"}, "", ""},
  };
  for (const FolderCase& c : cases) {
    Parsed parsed = Parse(c.arguments);
    SCOPED_TRACE(Describe(c.arguments));
    EXPECT_EQ(1, parsed.result);
    EXPECT_EQ(c.runtimeInstallDir, parsed.options->runtimeInstallDir);
    EXPECT_EQ(c.databaseInstallDir, parsed.options->databaseInstallDir);
  }
}

struct LanguageCase {
  std::vector<std::string> arguments;
  uint16_t defaultLanguage;
  uint16_t expected;
};

TEST(ParseCommandLineTest, LangSwitchAcceptsOnlySupportedLowSixteenBits) {
  const LanguageCase cases[] = {
      {{"/lang=1041"}, kEnglish, 1041},
      {{"/lang=2052"}, kEnglish, 2052},
      {{"/lang=1033"}, 1041, 1033},
      // Read like atoi: hexadecimal is 0, letters end the number, white space and a sign lead.
      {{"/lang=0x411"}, kEnglish, kEnglish},
      {{"/lang=0x411"}, 2052, 2052},
      {{"/lang=1041abc"}, kEnglish, 1041},
      {{"/lang=2052.5"}, kEnglish, 2052},
      {{"/lang= 1041"}, kEnglish, 1041},
      {{"/lang=\t\n\v\f\r 1041"}, kEnglish, 1041},
      {{"/lang=+1041"}, kEnglish, 1041},
      {{"/lang=-64495"}, kEnglish, 1041},  // -64495 + 65536
      {{"/lang=- 1041"}, 2052, 2052},
      {{"/lang=+-1041"}, 2052, 2052},
      {{"/lang=abc"}, 2052, 2052},
      {{"/lang="}, 2052, 2052},
      {{"/lang=01041"}, kEnglish, 1041},
      // Only the low 16 bits count, also beyond 32 bits.
      {{"/lang=66577"}, kEnglish, 1041},                  // 1041 + 65536
      {{"/lang=4294968337"}, kEnglish, 1041},             // 1041 + 65536 * 65536
      {{"/lang=281474976711697"}, kEnglish, 1041},        // 1041 + 65536^3
      {{"/lang=18446744073709552657"}, kEnglish, 1041},   // 1041 + 2^64
      {{"/lang=67585"}, 1041, 1041},                       // 2049: unsupported, ignored
      {{"/lang=1049"}, 1041, 1041},
      {{"/lang=0"}, 1041, 1041},
      {{"/lang=17"}, kEnglish, kEnglish},
      // The value starts after the first "=" of the argument, wherever "/lang=" is.
      {{"P=/lang=1041"}, kEnglish, kEnglish},
      {{"P=1041/lang=2052"}, kEnglish, 1041},
      {{"/lang=1041/lang=2052"}, kEnglish, 1041},
      {{"x/lang=2052"}, kEnglish, 2052},
      // Each accepted one replaces the earlier; a rejected one undoes nothing.
      {{"/lang=1041", "/lang=2052"}, kEnglish, 2052},
      {{"/lang=2052", "/lang=1041"}, kEnglish, 1041},
      {{"/lang=1041", "/lang=9999"}, kEnglish, 1041},
      {{"/lang=1041", "/lang=0x411", "/lang=1033"}, 2052, 1033},
      {{"/LANG=1041"}, kEnglish, kEnglish},
  };
  for (const LanguageCase& c : cases) {
    Parsed parsed = Parse(c.arguments, c.defaultLanguage);
    SCOPED_TRACE(Describe(c.arguments));
    EXPECT_EQ(1, parsed.result);
    EXPECT_EQ(c.expected, parsed.options->transformLanguage);
  }
}

TEST(ParseLanguageNumberTest, AtoiStyleConversionReducedToSixteenBits) {
  struct Case {
    const char* text;
    uint16_t expected;
  };
  const Case cases[] = {
      {"1041", 1041},
      {"0x411", 0},
      {"", 0},
      {"abc", 0},
      {"  +12", 12},
      {"-1", 65535},
      {"- 5", 0},
      {"+-5", 0},
      {"12 34", 12},
      {"\t\n\v\f\r 7", 7},
      {"65535", 65535},
      {"65536", 0},
      {"65537", 1},
      {"2147483647", 65535},
      {"2147483648", 0},
      {"4294967295", 65535},
      {"4294967296", 0},
      {"4294968337", 1041},
      {"99999999999999999999", 65535},  // 10^20 - 1: 10^20 is a multiple of 65536
      {"-4294966255", 1041},            // -(2^32 - 1041)
      {"000000000000000000001041", 1041},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, ParseLanguageNumber(c.text)) << "[" << c.text << "]";
}

// --- Capacities: 1023 characters and the terminator fit; one more is refused. ------------

// The fields behind the option string must survive a refused argument.
void ExpectRefusedWithoutSpill(const Parsed& parsed, const char* runtime, const char* database) {
  EXPECT_EQ(0, parsed.result);
  EXPECT_LT(strnlen(parsed.options->optionString, kOptionCapacity), kOptionCapacity);
  EXPECT_STREQ(runtime, parsed.options->runtimeInstallDir);
  EXPECT_STREQ(database, parsed.options->databaseInstallDir);
  EXPECT_LT(strnlen(parsed.options->runtimeInstallDir, kOptionCapacity), kOptionCapacity);
}

TEST(ParseCommandLineCapacityTest, PassedThroughArgumentUpToTheLastCharacter) {
  std::string argument(1022, 'p');  // plus its blank: 1023
  Parsed fits = Parse({argument});
  EXPECT_EQ(1, fits.result);
  EXPECT_EQ(argument + " ", fits.options->optionString);

  Parsed refused = Parse({"/INSTALLDIRPUBRTQ=R", std::string(1023, 'p')});
  ExpectRefusedWithoutSpill(refused, "R", "");
}

TEST(ParseCommandLineCapacityTest, VPiecesUpToTheLastCharacter) {
  std::string text(1021, 'v');  // framed: 1023
  Parsed fits = Parse({"/v" + text});
  EXPECT_EQ(1, fits.result);
  EXPECT_EQ(" " + text + " ", fits.options->optionString);

  Parsed quoted = Parse({"/v\"" + text + "\""});
  EXPECT_EQ(1, quoted.result);
  EXPECT_EQ(" " + text + " ", quoted.options->optionString);

  ExpectRefusedWithoutSpill(Parse({"/INSTALLDIRPUBRTQ=R", "/v" + text + "v"}), "R", "");
  ExpectRefusedWithoutSpill(Parse({"/INSTALLDIRPUBRTQ=R", "/v\"" + text + "v\""}), "R", "");
}

TEST(ParseCommandLineCapacityTest, PiecesAddUpAcrossArguments) {
  // 501 + 522 = 1023.
  std::vector<std::string> arguments = {std::string(500, 'a'), "/v" + std::string(520, 'b')};
  Parsed fits = Parse(arguments);
  EXPECT_EQ(1, fits.result);
  EXPECT_EQ(std::string(500, 'a') + "  " + std::string(520, 'b') + " ", fits.options->optionString);

  arguments[1] += "b";
  EXPECT_EQ(0, Parse(arguments).result);

  // Many small arguments: 341 times "ab " is 1023 characters, one more "a" does not fit.
  std::vector<std::string> many(341, "ab");
  Parsed manyFit = Parse(many);
  EXPECT_EQ(1, manyFit.result);
  EXPECT_EQ(size_t{1023}, strlen(manyFit.options->optionString));
  many.push_back("");  // a lone blank
  EXPECT_EQ(0, Parse(many).result);
}

TEST(ParseCommandLineCapacityTest, FoldersUpToTheLastCharacter) {
  std::string folder(1023, 'f');
  Parsed runtime = Parse({"/INSTALLDIRPUBRTQ=" + folder});
  EXPECT_EQ(1, runtime.result);
  EXPECT_EQ(folder, runtime.options->runtimeInstallDir);
  Parsed database = Parse({"/INSTALLDIRZELVANDB=" + folder});
  EXPECT_EQ(1, database.result);
  EXPECT_EQ(folder, database.options->databaseInstallDir);

  Parsed runtimeRefused = Parse({"/INSTALLDIRZELVANDB=D", "/INSTALLDIRPUBRTQ=" + folder + "f"});
  EXPECT_EQ(0, runtimeRefused.result);
  EXPECT_LT(strnlen(runtimeRefused.options->runtimeInstallDir, kOptionCapacity), kOptionCapacity);
  EXPECT_STREQ("D", runtimeRefused.options->databaseInstallDir);

  Parsed databaseRefused = Parse({"/INSTALLDIRZELVANDB=D", "/INSTALLDIRZELVANDB=" + folder + "f"});
  EXPECT_EQ(0, databaseRefused.result);
  EXPECT_LT(strnlen(databaseRefused.options->databaseInstallDir, kOptionCapacity), kOptionCapacity);
}

TEST(ParseCommandLineCapacityTest, LongArgumentsThatAppendNothingNeverFail) {
  std::string digits(5000, '0');
  Parsed parsed = Parse({"/lang=" + digits + "1041", "/s"});
  EXPECT_EQ(1, parsed.result);
  EXPECT_EQ(1041, parsed.options->transformLanguage);
  EXPECT_TRUE(parsed.options->silent);
  EXPECT_STREQ("", parsed.options->optionString);
}

}  // namespace
