#include "windows_api.h"

#include "fixed_text.h"
#include "win32_environment.h"

#include <string>
#include <vector>

namespace lenticor::win32 {

std::uint32_t Win32Environment::GetEnvironmentVariable(std::wstring_view name,
                                                       std::uint32_t capacity) {
    const std::wstring variable(name);
    // Only the count is reported, but the call must see a buffer of exactly
    // `capacity` characters for that count to mean what Windows says it means.
    std::vector<WCHAR> buffer(capacity);
    return ::GetEnvironmentVariableW(variable.c_str(), buffer.empty() ? nullptr : buffer.data(),
                                     capacity);
}

std::uint32_t Win32Environment::GetEnvironmentVariableW(std::wstring_view name,
                                                        std::uint32_t capacity,
                                                        std::wstring& value) {
    const std::wstring variable(name);
    return FetchText(capacity, value, [&](WCHAR* buffer) {
        return ::GetEnvironmentVariableW(variable.c_str(), capacity == 0 ? nullptr : buffer,
                                         capacity);
    });
}

}  // namespace lenticor::win32
