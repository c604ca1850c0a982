#pragma once
// Port: the registry (RegOpenKeyExW, RegEnumKeyExW, RegQueryValueExW,
// RegFlushKey).
// Opened keys are objects; destroying one closes it. Every call returns the
// Win32 error Windows returned (kErrorSuccess on success).

#include "platform/native_codes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor {

enum class RegistryHive { LocalMachine, CurrentUser };

constexpr std::uint32_t kKeyRead = 0x20019;  // KEY_READ

// REG_* value types.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

// RegGetValueW dwFlags: the value types a caller accepts.
constexpr std::uint32_t kRrfRtRegSz = 0x2;  // RRF_RT_REG_SZ

class RegistryKey {
  public:
    virtual ~RegistryKey() = default;

    // RegEnumKeyExW with a 256-character name buffer: kErrorNoMoreItems past
    // the last subkey.
    [[nodiscard]] virtual Win32Error EnumKey(std::uint32_t index, std::wstring& name) = 0;

    // RegQueryValueExW with no buffer: the value's REG_* type and its size in
    // bytes; kErrorFileNotFound when there is no such value.
    [[nodiscard]] virtual Win32Error QueryValueInfo(std::wstring_view valueName,
                                                    std::uint32_t& type, std::uint32_t& size) = 0;

    // RegQueryValueExW into a buffer of `capacity` bytes. On success `data`
    // holds the value's bytes and `type` its REG_* type; a larger value gives
    // kErrorMoreData, a missing one kErrorFileNotFound.
    [[nodiscard]] virtual Win32Error QueryValue(std::wstring_view valueName, std::size_t capacity,
                                                std::uint32_t& type,
                                                std::vector<std::uint8_t>& data) = 0;

    // RegFlushKey: returns once the key's changes are on the disk; until then
    // a power loss may undo them. Needs KEY_QUERY_VALUE on the key.
    [[nodiscard]] virtual Win32Error Flush() = 0;
};

class Registry {
  public:
    virtual ~Registry() = default;
    // RegOpenKeyExW(hive, subKey, 0, access); `key` is set on success only.
    [[nodiscard]] virtual Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey,
                                             std::uint32_t access,
                                             std::unique_ptr<RegistryKey>& key) = 0;

    // RegGetValueW(hive, subKey, valueName, flags) into a buffer of `capacity`
    // bytes. A type that `flags` does not accept gives kErrorUnsupportedType; a
    // string value comes back with its terminating NUL, counted in its size; a
    // value larger than `capacity` gives kErrorMoreData. `type` and `data` are
    // set on success only.
    [[nodiscard]] virtual Win32Error RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                                                  std::wstring_view valueName, std::uint32_t flags,
                                                  std::size_t capacity, std::uint32_t& type,
                                                  std::vector<std::uint8_t>& data) = 0;
    // RegSetKeyValueW: creates `subKey` when it is missing.
    [[nodiscard]] virtual Win32Error RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                                     std::wstring_view valueName,
                                                     std::uint32_t type,
                                                     std::span<const std::uint8_t> data) = 0;
    // RegDeleteKeyValueW: kErrorFileNotFound when the key or the value is missing.
    [[nodiscard]] virtual Win32Error RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                                        std::wstring_view valueName) = 0;
};

}  // namespace lenticor
