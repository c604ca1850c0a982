// Test helper: opens a file the way the journal lock does (read and write, no
// sharing, created when missing), says "held" on standard output, and keeps
// it open until standard input closes. Lets a Wine case hold the lock from a
// second Windows process.

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: hold_file <path>\n", stderr);
        return 2;
    }
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
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
