#include "windows_api.h"

#include "fixed_text.h"
#include "win32_ports.h"

#include <string>
#include <vector>

namespace lenticor::win32 {
namespace {

// The real Windows environment: the process's environment variables.
class Win32Environment final : public Environment {
  public:
    std::uint32_t GetEnvironmentVariable(std::wstring_view name, std::uint32_t capacity) override {
        const std::wstring variable(name);
        // Only the count is reported, but the call must see a buffer of exactly
        // `capacity` characters for that count to mean what Windows says it means.
        std::vector<WCHAR> buffer(capacity);
        return ::GetEnvironmentVariableW(variable.c_str(), buffer.empty() ? nullptr : buffer.data(),
                                         capacity);
    }

    std::uint32_t GetEnvironmentVariableW(std::wstring_view name, std::uint32_t capacity,
                                          std::wstring& value) override {
        const std::wstring variable(name);
        return FetchText(capacity, value, [&](WCHAR* buffer) {
            return ::GetEnvironmentVariableW(variable.c_str(), capacity == 0 ? nullptr : buffer,
                                             capacity);
        });
    }
};

}  // namespace

std::unique_ptr<Environment> MakeWin32Environment() {
    return std::make_unique<Win32Environment>();
}

}  // namespace lenticor::win32
