#include "wrapper_run.h"

#include <shlobj.h>

std::string WrapperPath(const std::string& name) { return BuildPath(name); }

std::string StandinFolder() { return BuildPath("tests/standin"); }
std::string StandinEngine() { return StandinFolder() + "\\msiexec.exe"; }


std::string StagingFolder(bool amd64) {
  return LocalLowFolder() + "\\Orvik\\Zelvan\\kzt1.6.0_32" + (amd64 ? "_x64" : "");
}

std::string StagedPackagePath(bool amd64) { return StagingFolder(amd64) + "\\kzt1.6.0_32.msi"; }

StandinRun RunWrapperWithStandin(const std::string& arguments, const std::string& exitCodes,
                                 const std::string& wrapper) {
  InstallerLocationOverride location(StandinFolder());
  return RunWrapperRecording(arguments, exitCodes, wrapper);
}

namespace {
// One recorded run; start runs the wrapper (narrow or wide command line).
template <typename Start>
StandinRun Record(const std::string& exitCodes, Start start) {
  std::string scratch = MakeScratchFolder("standin-run");
  std::string record = scratch + "\\record.txt";
  std::string programs = scratch + "\\programs.txt";
  DeleteTree(StagingFolder());
  EnvironmentOverride recordFile("WRAPPER_STANDIN_RECORD", record.c_str());
  EnvironmentOverride programsFile("WRAPPER_STANDIN_PROGRAMS", programs.c_str());
  EnvironmentOverride codes("WRAPPER_STANDIN_EXIT_CODES", exitCodes.c_str());
  StandinRun result;
  result.run = start();
  result.commandLines = SplitLines(ReadFileText(record));
  result.programs = SplitLines(ReadFileText(programs));
  return result;
}
}  // namespace

StandinRun RunWrapperRecording(const std::string& arguments, const std::string& exitCodes,
                               const std::string& wrapper) {
  return Record(exitCodes, [&] {
    std::string commandLine = "\"" + WrapperPath(wrapper) + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    return RunChild(commandLine);
  });
}

StandinRun RunWrapperWithStandinW(const std::wstring& arguments, const std::string& exitCodes,
                                  const std::wstring& wrapper) {
  InstallerLocationOverride location(StandinFolder());
  return Record(exitCodes, [&] {
    std::wstring commandLine = L"\"" + (wrapper.empty() ? WideOf(WrapperPath()) : wrapper) + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    return RunChildW(commandLine);
  });
}

std::string DescribeBoxes(const ChildRun& run) {
  std::string text;
  for (const SeenBox& box : run.boxes) text += "[" + box.caption + ": " + box.text + "] ";
  return text;
}

std::string ExpectedMainCommandLine(const std::string& optionString, int transformLanguage) {
  std::string line = "\"" + StandinEngine() + "\" /i \"" + StagedPackagePath() + "\" ";
  if (transformLanguage != 1033) line += "TRANSFORMS=:" + std::to_string(transformLanguage) + " ";
  return line + optionString + " WRAPPER=1";
}
