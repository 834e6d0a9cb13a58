// Custom action of the sample kit package (stored in its Binary table, run
// before any file is copied). The wrapper starts msiexec while it is still
// writing the external cabinets next to the package; this action holds the
// install until the wrapper signals that the cabinets are complete.
//
// usage: cabwait.exe PACKAGE_PATH [TIMEOUT_SECONDS]
// Exit 0 once the event is signalled; non-zero (which fails the install) if
// the event never shows up or is not signalled in time.
//
// After the wait it writes "<package folder>\sample-wait-record.txt": one line
// per cabinet, "<name> <size in bytes>" or "<name> absent", so tests can see
// what the cabinets looked like when the install was let go.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

const char kEventName[] = "OrvikKZTCabExtractWaitEvent";
const DWORD kDefaultTimeoutSeconds = 300;
// The cabinets' number (the four version numbers and "0") comes from the build script, so the
// record names the cabinets of the kit it is built into.
#ifndef SAMPLE_CABINET_NUMBER
#error "build with -DSAMPLE_CABINET_NUMBER=\"<number>\" (build-sample-payload.sh does)"
#endif
const char* const kCabinets[] = {
    "ss" SAMPLE_CABINET_NUMBER ".cab", "st" SAMPLE_CABINET_NUMBER ".cab",
    "sj" SAMPLE_CABINET_NUMBER ".cab", "sp" SAMPLE_CABINET_NUMBER ".cab",
    "sz" SAMPLE_CABINET_NUMBER ".cab", "sb" SAMPLE_CABINET_NUMBER ".cab",
    "sr" SAMPLE_CABINET_NUMBER ".cab",
};

std::wstring folder_of(const std::wstring& path) {
    const auto cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : path.substr(0, cut);
}

std::wstring widen(const char* s) {
    return std::wstring(s, s + std::strlen(s));
}

void write_record(const std::wstring& folder) {
    std::string text;
    for (const char* cab : kCabinets) {
        const std::wstring path = folder + L"\\" + widen(cab);
        WIN32_FILE_ATTRIBUTE_DATA info;
        text += cab;
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
            const unsigned long long size =
                (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
            text += " " + std::to_string(size);
        } else {
            text += " absent";
        }
        text += "\r\n";
    }
    const std::wstring out = folder + L"\\sample-wait-record.txt";
    HANDLE h = CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;  // the record only helps tests; never fail the install for it
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD timeout_s = kDefaultTimeoutSeconds;
    if (argc > 2) {
        const unsigned long v = std::wcstoul(argv[2], nullptr, 10);
        if (v > 0) timeout_s = static_cast<DWORD>(v);
    }
    const DWORD budget_ms = timeout_s * 1000;
    const DWORD start = GetTickCount();

    // The wrapper may create the event after msiexec has started: keep trying.
    HANDLE event = nullptr;
    for (;;) {
        event = OpenEventA(SYNCHRONIZE, FALSE, kEventName);
        if (event) break;
        if (GetTickCount() - start >= budget_ms) return 2;
        Sleep(100);
    }
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent >= budget_ms ? 0 : budget_ms - spent;
    const DWORD result = WaitForSingleObject(event, left);
    CloseHandle(event);
    if (result != WAIT_OBJECT_0) return 3;

    if (argc > 1 && argv[1][0] != L'\0') write_record(folder_of(argv[1]));
    return 0;
}
