// Sample registration tool installed by the auto-update package. It does no
// registration: it appends one line to "dorvane-calls.txt" beside itself so a
// test can see how it was called, then exits 0.
//
// Line format: the raw command line (GetCommandLineA), then each parsed
// argument, all separated by TAB, ended by CRLF.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n);
    const auto cut = path.find_last_of("\\/");
    path = (cut == std::string::npos ? std::string(".") : path.substr(0, cut)) + "\\dorvane-calls.txt";

    std::string line = GetCommandLineA();
    for (int i = 1; i < argc; ++i) {
        line += '\t';
        line += argv[i];
    }
    line += "\r\n";

    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(h);
    }
    return 0;
}
