#include "windows_api.h"

#include "win32_ports.h"

namespace lenticor::win32 {
namespace {

// Null when the process has no standard input (a GUI parent gave none).
HANDLE StandardInputHandle() {
    const HANDLE handle = ::GetStdHandle(STD_INPUT_HANDLE);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// The real Windows standard input: the pipe a host writes its cancel line to.
class Win32StandardInput final : public StandardInput {
  public:
    bool IsPipe() override {
        const HANDLE handle = StandardInputHandle();
        return handle != nullptr && ::GetFileType(handle) == FILE_TYPE_PIPE;
    }

    bool PeekAvailable(std::uint32_t& available) override {
        DWORD native = 0;
        if (!::PeekNamedPipe(StandardInputHandle(), nullptr, 0, nullptr, &native, nullptr)) {
            return false;
        }
        available = native;
        return true;
    }

    bool Read(std::span<char> buffer, std::uint32_t& read) override {
        DWORD native = 0;
        if (!::ReadFile(StandardInputHandle(), buffer.data(), static_cast<DWORD>(buffer.size()),
                        &native, nullptr)) {
            return false;
        }
        read = native;
        return true;
    }
};

}  // namespace

std::unique_ptr<StandardInput> MakeWin32StandardInput() {
    return std::make_unique<Win32StandardInput>();
}

}  // namespace lenticor::win32
