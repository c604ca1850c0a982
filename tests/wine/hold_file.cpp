// Test helper: opens a file for reading and writing (created when missing),
// says "held" on standard output, and keeps it open until standard input
// closes. Without a second argument nothing is shared, as the journal lock
// is opened; "rwd" (any of the letters) shares reading, writing and deletion,
// as a reader such as an editor or a virus scanner does. Lets a Wine case
// hold a file from a second Windows process.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: hold_file <path> [rwd]\n", stderr);
        return 2;
    }
    DWORD share = 0;
    if (argc == 3) {
        share |= std::wcschr(argv[2], L'r') != nullptr ? FILE_SHARE_READ : 0;
        share |= std::wcschr(argv[2], L'w') != nullptr ? FILE_SHARE_WRITE : 0;
        share |= std::wcschr(argv[2], L'd') != nullptr ? FILE_SHARE_DELETE : 0;
    }
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "open failed: %lu\n", ::GetLastError());
        return 1;
    }
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    char buffer[64];
    DWORD read = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
    }
    ::CloseHandle(file);
    return 0;
}
