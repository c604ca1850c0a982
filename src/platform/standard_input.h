#pragma once
// Port: the process's standard input as the power command's cancel watcher
// sees it (GetStdHandle(STD_INPUT_HANDLE), GetFileType, PeekNamedPipe,
// ReadFile). It is polled, never waited on.

#include <cstdint>
#include <span>

namespace lenticor {

class StandardInput {
  public:
    virtual ~StandardInput() = default;

    // A standard-input handle exists (neither null nor INVALID_HANDLE_VALUE)
    // and GetFileType reports FILE_TYPE_PIPE.
    [[nodiscard]] virtual bool IsPipe() = 0;

    // PeekNamedPipe(handle, NULL, 0, NULL, &available, NULL); false when the
    // call failed.
    [[nodiscard]] virtual bool PeekAvailable(std::uint32_t& available) = 0;

    // ReadFile(handle, buffer, buffer.size(), &read, NULL); false when the
    // call failed. Call it only for bytes PeekAvailable reported, so it never
    // blocks.
    [[nodiscard]] virtual bool Read(std::span<char> buffer, std::uint32_t& read) = 0;
};

}  // namespace lenticor
