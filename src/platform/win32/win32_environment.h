#pragma once
// The real Windows environment: the process's environment variables.

#include "platform/environment.h"

namespace lenticor::win32 {

class Win32Environment final : public Environment {
  public:
    std::uint32_t GetEnvironmentVariable(std::wstring_view name, std::uint32_t capacity) override;
    std::uint32_t GetEnvironmentVariableW(std::wstring_view name, std::uint32_t capacity,
                                          std::wstring& value) override;
};

}  // namespace lenticor::win32
