#pragma once
// Running the wrapper executable the way a person or a deployment script does, with the
// recording stand-in in place of msiexec.exe.
#include <string>
#include <vector>

#include "test_support.h"

// The wrapper built for tests, by its output name in the build tree.
std::string WrapperPath(const std::string& name = "kzt-wrapper.exe");

// The folder of the stand-in msiexec.exe, and its full path.
std::string StandinFolder();
std::string StandinEngine();

// The staging folder and the package path the wrapper uses on version 6.
std::string StagingFolder(bool amd64 = false);
std::string StagedPackagePath(bool amd64 = false);

// One wrapper run against the stand-in: the engine folder points at the stand-in, the
// staging folder is emptied first, and the stand-in's record is returned line by line.
struct StandinRun {
  ChildRun run;
  std::vector<std::string> commandLines;
  std::vector<std::string> programs;  // the program each call ran, by its full path
};
StandinRun RunWrapperWithStandin(const std::string& arguments, const std::string& exitCodes = "0",
                                 const std::string& wrapper = "kzt-wrapper.exe");

// The same with a wide command line: arguments outside the code page reach the wrapper as
// the user typed them (the stand-in records its narrow command line). wrapper: the full path
// of the executable to run, empty for the one built for tests.
StandinRun RunWrapperWithStandinW(const std::wstring& arguments, const std::string& exitCodes = "0",
                                  const std::wstring& wrapper = L"");

// The same run with InstallerLocation left as the caller set it (a copy of the stand-in
// elsewhere, an odd value, no value).
StandinRun RunWrapperRecording(const std::string& arguments, const std::string& exitCodes = "0",
                               const std::string& wrapper = "kzt-wrapper.exe");

// The boxes a run showed, caption and text, for failure messages.
std::string DescribeBoxes(const ChildRun& run);

// The main command line the wrapper builds for an option string, on this machine.
std::string ExpectedMainCommandLine(const std::string& optionString, int transformLanguage = 1033);
