// Test stand-in for the wrapper's side of the cabinet hand-over.
//
// usage: gate.exe early|late DELAY_MS CAB_SRC|- STAGE_DIR "COMMAND LINE"
//
// Starts COMMAND LINE (msiexec ...), creates the event before (early) or
// after (late) the start, waits DELAY_MS while copying every *.cab of CAB_SRC
// into STAGE_DIR (like the wrapper writing cabinets), then signals the event
// and waits for the command. Before signalling it checks that the command is
// still running and that no wait record exists in STAGE_DIR yet, i.e. the
// custom action is really blocked on the event.
//
// Exit code: the command's exit code, or 90 if a pre-signal check failed,
// 91 on a usage or start-up error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kEventName[] = "OrvikKZTCabExtractWaitEvent";

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool copy_cabs(const std::string& from, const std::string& to) {
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((from + "\\*.cab").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::string src = from + "\\" + fd.cFileName;
        const std::string dst = to + "\\" + fd.cFileName;
        if (!CopyFileA(src.c_str(), dst.c_str(), FALSE)) ok = false;
        std::printf("gate: copied %s\n", fd.cFileName);
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: gate.exe early|late DELAY_MS CAB_SRC|- STAGE_DIR \"COMMAND\"\n");
        return 91;
    }
    const bool late = std::string(argv[1]) == "late";
    const DWORD delay = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    const std::string cab_src = argv[3];
    const std::string stage = argv[4];
    std::string command = argv[5];
    const std::string record = stage + "\\sample-wait-record.txt";
    DeleteFileA(record.c_str());

    HANDLE event = nullptr;
    if (!late) event = CreateEventA(nullptr, TRUE, FALSE, kEventName);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "gate: cannot start: %s (error %lu)\n", command.c_str(), GetLastError());
        return 91;
    }
    std::printf("gate: started: %s\n", command.c_str());
    std::fflush(stdout);

    Sleep(delay / 2);
    if (late) event = CreateEventA(nullptr, TRUE, FALSE, kEventName);
    if (!event) {
        std::fprintf(stderr, "gate: CreateEvent failed (error %lu)\n", GetLastError());
        return 91;
    }
    bool ok = true;
    if (cab_src != "-" && !copy_cabs(cab_src, stage)) {
        std::fprintf(stderr, "gate: copying cabinets failed\n");
        ok = false;
    }
    Sleep(delay - delay / 2);

    const bool running = WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
    const bool recorded = exists(record);
    std::printf("gate: before signal: installer %s, wait record %s\n",
                running ? "running" : "EXITED", recorded ? "PRESENT" : "absent");
    if (!running || recorded) ok = false;

    SetEvent(event);
    const DWORD signalled_at = GetTickCount();
    if (WaitForSingleObject(pi.hProcess, 300 * 1000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "gate: installer did not finish\n");
        TerminateProcess(pi.hProcess, 1);
        return 91;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("gate: installer exit code %lu, %lu ms after the signal\n", code,
                GetTickCount() - signalled_at);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(event);
    return ok ? static_cast<int>(code) : 90;
}
