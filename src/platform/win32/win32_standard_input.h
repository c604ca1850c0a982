#pragma once
// The real Windows standard input: the pipe a host writes its cancel line to.

#include "platform/standard_input.h"

namespace lenticor::win32 {

class Win32StandardInput final : public StandardInput {
  public:
    bool IsPipe() override;
    bool PeekAvailable(std::uint32_t& available) override;
    bool Read(std::span<char> buffer, std::uint32_t& read) override;
};

}  // namespace lenticor::win32
