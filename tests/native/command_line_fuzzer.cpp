// Fuzzes the way from the wrapper's arguments to the main command line. The input is the
// argument vector: arguments separated by a line feed or a zero byte (a final empty piece is
// no argument). Every result is compared with a small reference model of the rules, written
// here with std::string and no capacity at all, so a refusal can be checked against the
// length the text would really have had.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/main_command_line.h"
#include "engine/package_path_adjustment.h"

#define CHECK(condition)                                                                  \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);   \
      abort();                                                                            \
    }                                                                                     \
  } while (0)

namespace {

constexpr size_t kLongestText = 1023;  // 1024-character buffers, terminator included
const char kEngine[] = "C:\\Windows\\SysWOW64\\msiexec.exe";
const char kPackage[] =
    "C:\\Windows\\system32\\config\\systemprofile\\AppData\\LocalLow\\Orvik\\Zelvan\\kzt1.6.0_32\\"
    "kzt1.6.0_32.msi";
// The package path as the engine under SysWOW64 must see it: the first "system32" only.
const char kAdjustedPackage[] =
    "C:\\Windows\\SysWOW64\\config\\systemprofile\\AppData\\LocalLow\\Orvik\\Zelvan\\kzt1.6.0_32\\"
    "kzt1.6.0_32.msi";
const char kDefaultFeatures[] = " ADDLOCAL=PublicrtqFeature,ToolsFeature";

// --- Reference model ------------------------------------------------------------------

struct Model {
  uint16_t language = 1033;
  std::string optionString;
  bool silent = false;
  bool addLocalGiven = false;
  std::string runtimeInstallDir;
  std::string databaseInstallDir;
  bool tooLong = false;  // some text outgrew its 1024-character buffer
};

bool Has(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }
bool Begins(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
std::string AfterFirstEquals(const std::string& text) { return text.substr(text.find('=') + 1); }

// atoi on the text, then modulo 65536 (the same number, since 2^32 is a multiple of it).
uint16_t LowSixteenBits(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\v' || text[i] == '\f' || text[i] == '\r')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = (value * 10 + (text[i] - '0')) % 65536;
  return static_cast<uint16_t>(negative ? (65536 - value) % 65536 : value);
}

// The development-kit build offers English (no transform), Japanese and Chinese (Simplified).
bool Offered(uint16_t language) { return language == 1033 || language == 1041 || language == 2052; }

void ModelArgument(const std::string& argument, Model* model) {
  if (Has(argument, "/lang=")) {
    uint16_t language = LowSixteenBits(AfterFirstEquals(argument));
    if (Offered(language)) model->language = language;
  } else if (Begins(argument, "/v\"")) {
    std::string inner = argument.size() > 4 ? argument.substr(3, argument.size() - 4) : "";
    model->optionString += " " + inner + " ";
  } else if (Begins(argument, "/v")) {
    model->optionString += " " + argument.substr(2) + " ";
  } else if (argument == "/s") {
    model->silent = true;
  } else if (Has(argument, "/INSTALLDIRPUBRTQ=")) {
    model->runtimeInstallDir = AfterFirstEquals(argument);
  } else if (Has(argument, "/INSTALLDIRZELVANDB=")) {
    model->databaseInstallDir = AfterFirstEquals(argument);
  } else {
    if (Has(argument, "ADDLOCAL=")) model->addLocalGiven = true;
    model->optionString += argument + " ";
  }
  if (model->optionString.size() > kLongestText || model->runtimeInstallDir.size() > kLongestText ||
      model->databaseInstallDir.size() > kLongestText) {
    model->tooLong = true;
  }
}

std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n' || data[i] == '\0') {
      arguments.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) arguments.push_back(current);
  return arguments;
}

bool Terminated(const char* buffer) { return strnlen(buffer, kOptionCapacity) < kOptionCapacity; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> arguments = SplitArguments(data, size);

  // Each argument in a heap block of its exact size, so reading past a terminator is seen.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<const char*> argv;
  const char programPath[] = "kzt-wrapper.exe";
  argv.push_back(programPath);
  for (const std::string& argument : arguments) {
    storage.emplace_back(new char[argument.size() + 1]);
    memcpy(storage.back().get(), argument.c_str(), argument.size() + 1);
    argv.push_back(storage.back().get());
  }

  Model model;
  for (const std::string& argument : arguments) {
    ModelArgument(argument, &model);
    if (model.tooLong) break;  // the wrapper refuses the whole command line here
  }

  std::unique_ptr<WrapperOptions> options(new WrapperOptions);
  ResetWrapperOptions(options.get(), 1033);
  const int parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options.get());

  CHECK(Terminated(options->optionString));
  CHECK(Terminated(options->runtimeInstallDir));
  CHECK(Terminated(options->databaseInstallDir));
  CHECK(parsed == (model.tooLong ? 0 : 1));
  if (!parsed) return 0;

  CHECK(model.optionString == options->optionString);
  CHECK(model.runtimeInstallDir == options->runtimeInstallDir);
  CHECK(model.databaseInstallDir == options->databaseInstallDir);
  CHECK(model.silent == options->silent);
  CHECK(model.addLocalGiven == options->addLocalGiven);
  CHECK(model.language == options->transformLanguage);

  // Silent additions.
  std::string optionString = model.optionString;
  if (model.silent) {
    if (!Has(optionString, "/qn")) optionString += " /qn";
    if (!model.addLocalGiven) optionString += kDefaultFeatures;
  }
  const int added = ApplySilentAdditions(options.get());
  CHECK(Terminated(options->optionString));
  CHECK(added == (optionString.size() <= kLongestText ? 1 : 0));
  if (!added) return 0;
  CHECK(optionString == options->optionString);

  // Package-path adjustment and the main command line.
  char packagePath[260];
  memcpy(packagePath, kPackage, sizeof kPackage);
  AdjustPackagePathForEngine(packagePath, kEngine, "C:\\Windows\\system32");
  CHECK(strcmp(packagePath, kAdjustedPackage) == 0);

  std::string expected = std::string("\"") + kEngine + "\" /i \"" + kAdjustedPackage + "\" ";
  if (model.language != 1033) expected += "TRANSFORMS=:" + std::to_string(model.language) + " ";
  expected += optionString + " WRAPPER=1";

  const size_t capacity = 1024;
  std::unique_ptr<char[]> commandLine(new char[capacity]);
  memset(commandLine.get(), 'u', capacity);
  const int formatted = FormatMainCommandLine(commandLine.get(), capacity, kEngine, packagePath,
                                              options->transformLanguage, options->optionString);
  if (expected.size() <= kLongestText) {
    CHECK(formatted == 1);
    CHECK(expected == commandLine.get());
  } else {
    CHECK(formatted == 0);
    for (size_t i = 0; i < capacity; ++i) CHECK(commandLine[i] == 'u');  // left as it was
  }
  return 0;
}
