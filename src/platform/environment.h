#pragma once
// Port: the process environment (GetEnvironmentVariableW).

#include <cstdint>
#include <string>
#include <string_view>

namespace lenticor {

// The buffer, in wide characters with the terminating NUL, that ProgramData is
// read into (MAX_PATH): a value of up to kProgramDataBufferLength - 1
// characters is taken, a longer one is not.
inline constexpr std::uint32_t kProgramDataBufferLength = 260;

class Environment {
  public:
    virtual ~Environment() = default;
    // GetEnvironmentVariableW(name, buffer, capacity) with a buffer of
    // `capacity` wide characters: the value's length when it fits, the size it
    // needs (terminating NUL included) when it does not, 0 when the variable
    // is unset or empty.
    [[nodiscard]] virtual std::uint32_t GetEnvironmentVariable(std::wstring_view name,
                                                               std::uint32_t capacity) = 0;
    // The same call, keeping the text: `value` receives it only when it fits
    // (the return is then its length), and is cleared otherwise.
    [[nodiscard]] virtual std::uint32_t GetEnvironmentVariableW(std::wstring_view name,
                                                                std::uint32_t capacity,
                                                                std::wstring& value) = 0;
};

}  // namespace lenticor
