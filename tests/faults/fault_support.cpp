#include "fault_support.h"

#include <tlhelp32.h>

#include <algorithm>

#include "message_box_watcher.h"

const char* const kCabinets[7] = {"ss160320.cab", "st160320.cab", "sj160320.cab", "sp160320.cab",
                                  "sz160320.cab", "sb160320.cab", "sr160320.cab"};

std::string PayloadFile(const std::string& name) {
  std::string path = std::string("Z:") + PAYLOAD_DIR + "/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

::testing::AssertionResult SameBytes(const std::string& path, const std::string& expectedPath) {
  std::string bytes = ReadFileText(path);
  std::string expected = ReadFileText(expectedPath);
  if (PathExists(path) && bytes == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << " (" << FileSize(path) << " bytes) differs from "
                                       << expectedPath << " (" << expected.size() << " bytes)";
}

std::string ExpectedBoxText(const std::string& context, DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string box = context + " failed with error " + std::to_string(code) + ": " + (text ? text : "");
  if (text != nullptr) LocalFree(text);
  return box;
}

void ExpectWriterBox(const ChildRun& run, const std::string& context, DWORD code) {
  ASSERT_TRUE(Started(run));
  ASSERT_FALSE(run.timedOut);
  ASSERT_EQ(run.boxes.size(), 1u) << DescribeBoxes(run);
  EXPECT_EQ(run.boxes[0].caption, "Error");
  EXPECT_EQ(run.boxes[0].text, ExpectedBoxText(context, code));
  EXPECT_FALSE(run.boxes[0].hasIcon);
  EXPECT_EQ(run.exitCode, static_cast<int>(code));
}

std::string UnixPath(const std::string& windowsPath) {
  typedef char*(CDECL * ToUnix)(LPCWSTR);
  ToUnix toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return std::string();
  WCHAR wide[MAX_PATH * 2] = {};
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2);
  char* unix = toUnix(wide);
  if (unix == nullptr) return std::string();
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

int RunHostShell(const std::string& command, DWORD timeoutMs) {
  static int serial = 0;
  std::string status = MakeScratchFolder("host-shell-" + std::to_string(GetCurrentProcessId())) + "\\status" + std::to_string(++serial);
  std::string unixStatus = UnixPath(status);
  if (unixStatus.empty()) return -1;
  // Written under another name and renamed, so the status is never read half written.
  std::string line = "/bin/sh -c \"" + command + "; echo $? > '" + unixStatus + ".part' && mv '" +
                     unixStatus + ".part' '" + unixStatus + "'\"";
  PROCESS_INFORMATION process;
  if (!StartChild(line, &process)) return -1;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (PathExists(status)) return atoi(ReadFileText(status).c_str());
    Sleep(50);
  }
  fprintf(stderr, "RunHostShell: no exit status within %lu ms from: %s\n",
          static_cast<unsigned long>(timeoutMs), line.c_str());
  return -1;
}

void RemoveHostLink(const std::string& windowsPath) {
  std::string unix = UnixPath(windowsPath);
  while (!unix.empty() && unix.back() == '/') unix.pop_back();
  if (!unix.empty()) RunHostShell("if [ -L '" + unix + "' ]; then rm '" + unix + "'; fi");
}

namespace {
DWORD Outcome(BOOL succeeded) { return succeeded ? 0 : GetLastError(); }
}  // namespace

TamperCodes TryToChange(const std::string& path) {
  TamperCodes codes;
  codes.remove = Outcome(DeleteFileA(path.c_str()));
  std::string moved = path + ".moved";
  codes.rename = Outcome(MoveFileExA(path.c_str(), moved.c_str(), 0));
  if (codes.rename == 0) MoveFileExA(moved.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  std::string decoy = path + ".decoy";
  WriteFileText(decoy, "decoy");
  codes.replace = Outcome(MoveFileExA(decoy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
  DeleteFileA(decoy.c_str());
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    codes.overwrite = GetLastError();
  } else {
    DWORD written = 0;
    codes.overwrite = WriteFile(file, "TAMPERED", 8, &written, nullptr) ? 0 : GetLastError();
    CloseHandle(file);
  }
  return codes;
}

std::string Describe(const TamperCodes& codes) {
  return "delete " + std::to_string(codes.remove) + ", rename " + std::to_string(codes.rename) +
         ", replace " + std::to_string(codes.replace) + ", overwrite " + std::to_string(codes.overwrite);
}

bool AllRefused(const TamperCodes& codes) {
  for (DWORD code : {codes.remove, codes.rename, codes.replace, codes.overwrite}) {
    if (!Refused(code)) return false;
  }
  return true;
}

DWORD TryToReplaceFolder(const std::string& folder, const std::vector<std::string>& names) {
  if (!MoveFileExA(folder.c_str(), (folder + ".moved").c_str(), 0)) return GetLastError();
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const std::string& name : names) WriteFileText(folder + "\\" + name, "decoy");
  return 0;
}

DWORD TryToRename(const std::string& folder) {
  if (!MoveFileExA(folder.c_str(), (folder + ".moved").c_str(), 0)) return GetLastError();
  MoveFileExA((folder + ".moved").c_str(), folder.c_str(), 0);
  return 0;
}

bool Refused(DWORD code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED; }

TrackedRun RunTracked(const std::string& commandLine, DWORD timeoutMs) {
  return RunTracked(commandLine, timeoutMs, [](HANDLE) {});
}

TrackedRun RunTracked(const std::string& commandLine, DWORD timeoutMs,
                      const std::function<void(HANDLE process)>& whileItRuns) {
  TrackedRun tracked;
  tracked.run.commandLine = commandLine;
  PROCESS_INFORMATION process;
  if (!StartChild(commandLine, &process, &tracked.run.startError)) return tracked;
  tracked.run.started = true;
  whileItRuns(process.hProcess);
  tracked.processId = process.dwProcessId;
  DWORD start = GetTickCount();
  for (;;) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
    CloseBoxesOfProcess(process.dwProcessId, &tracked.run.boxes);
    if (GetTickCount() - start > timeoutMs) {
      tracked.run.timedOut = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  tracked.run.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return tracked;
}

std::vector<DWORD> EnginesStartedBy(DWORD parentId) {
  std::vector<DWORD> engines;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return engines;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parentId && lstrcmpiA(entry.szExeFile, "msiexec.exe") == 0) {
      engines.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return engines;
}

bool WaitForLine(const std::string& path, const std::string& text, DWORD timeoutMs) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
    for (const std::string& line : SplitLines(ReadFileText(path))) {
      if (line == text) return true;
    }
    Sleep(50);
  }
  return false;
}
