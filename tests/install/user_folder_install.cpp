#include "user_folder_install.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "wrapper_run.h"

namespace {

const char* const kProductCodes[] = {
    "{3A7C2E91-5B04-4F6D-9E28-71C5D0B4A632}",  // kit
    "{5F9B3C2D-8E14-4A67-B0D3-29E6F1A7C845}",  // runtime
    "{7B1E4A93-6C28-4D5F-8E07-B3A9F2D1C604}",  // database
    "{6E2B91C4-3F07-4D58-A1B9-7C04E35D8F21}",  // update service
};
const char* const kCabinets[] = {"ss160320.cab", "st160320.cab", "sj160320.cab", "sp160320.cab",
                                 "sz160320.cab", "sb160320.cab", "sr160320.cab"};
const char kOriginalDatabase[] = "Property(S): OriginalDatabase = ";

std::string PayloadFile(const std::string& name) {
  std::string path = std::string("Z:") + PAYLOAD_DIR + "/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::wstring LongPathOf(const std::wstring& path) {
  wchar_t longPath[MAX_PATH] = {};
  DWORD length = GetLongPathNameW(path.c_str(), longPath, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(longPath) : std::wstring();
}

// Every package path the engine's log names as OriginalDatabase (the main run and the
// companions and the update service each add theirs).
std::vector<std::string> EnginePackagePaths(const std::string& log) {
  std::vector<std::string> paths;
  for (const std::string& line : SplitLines(log)) {
    if (line.compare(0, sizeof kOriginalDatabase - 1, kOriginalDatabase) == 0) {
      paths.push_back(line.substr(sizeof kOriginalDatabase - 1));
    }
  }
  return paths;
}

void ListInto(const std::wstring& folder, const std::wstring& relative, std::string* list) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListInto(folder + L"\\" + name, path, list);
    } else {
      *list += Utf8Of(path) + "\n";
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

void RemoveSampleProducts() {
  for (const char* code : kProductCodes) RunChild("msiexec.exe /x " + std::string(code) + " /qn", 300000);
}

void RemoveSampleInstall(const std::wstring& localLow) {
  RemoveSampleProducts();
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern");
  DeleteTreeW(localLow + L"\\Orvik");
}

LoggedInstall RunSilentInstall(const std::string& scratchName) {
  std::string log = MakeScratchFolder(scratchName) + "\\engine.log";
  LoggedInstall install;
  install.run = RunChild("\"" + WrapperPath() + "\" /s /l*v \"" + log + "\"", 600000);
  install.engineLog = ReadFileText(log);
  return install;
}

void ExpectInstalledFrom(const std::wstring& localLow, const LoggedInstall& install) {
  const std::wstring staging = localLow + L"\\Orvik\\Zelvan\\kzt1.6.0_32";
  const std::wstring package = staging + L"\\kzt1.6.0_32.msi";
  ASSERT_TRUE(Started(install.run));
  ASSERT_FALSE(install.run.timedOut);
  EXPECT_TRUE(install.run.boxes.empty()) << DescribeBoxes(install.run);
  EXPECT_EQ(install.run.exitCode, 0) << "staging below " << Utf8Of(localLow);

  // Byte for byte; a failure names the file and the sizes rather than printing the bytes.
  ASSERT_TRUE(PathExistsW(package)) << "nothing staged in " << Utf8Of(staging) << "; boxes: "
                                    << DescribeBoxes(install.run);
  for (std::string name : {std::string("kzt1.6.0_32.msi"), std::string(kCabinets[0]), std::string(kCabinets[1]),
                           std::string(kCabinets[2]), std::string(kCabinets[3]), std::string(kCabinets[4]),
                           std::string(kCabinets[5]), std::string(kCabinets[6])}) {
    std::string staged = ReadFileTextW(staging + L"\\" + WideOf(name));
    std::string carried = ReadFileText(PayloadFile(name));
    EXPECT_TRUE(staged == carried) << name << ": " << staged.size() << " bytes in " << Utf8Of(staging)
                                   << ", " << carried.size() << " in the payload";
  }
  // The package writes its wait record into the folder of the package path it was given.
  std::vector<std::string> waitRecord = SplitLines(ReadFileTextW(staging + L"\\sample-wait-record.txt"));
  ASSERT_EQ(waitRecord.size(), 7u) << "no wait record in " << Utf8Of(staging);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(waitRecord[i], std::string(kCabinets[i]) + " " +
                                 std::to_string(FileSize(PayloadFile(kCabinets[i]))));
  }

  // The main run's package path: narrow text that reads back exactly, naming that package.
  std::vector<std::string> paths = EnginePackagePaths(install.engineLog);
  ASSERT_FALSE(paths.empty()) << "no OriginalDatabase in the engine's log:\n"
                              << install.engineLog.substr(0, 2000);
  const std::string& enginePackage = paths.front();
  ASSERT_FALSE(LongPathOf(package).empty()) << "no package at " << Utf8Of(package);
  EXPECT_EQ(enginePackage.find('?'), std::string::npos) << enginePackage;
  EXPECT_EQ(LongPathOf(WideOf(enginePackage)), LongPathOf(package))
      << "the engine got " << enginePackage << ", staged was " << Utf8Of(package);
}

std::string ListFilesBelow(const std::wstring& folder) {
  std::string list;
  ListInto(folder, L"", &list);
  return list;
}
