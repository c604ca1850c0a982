#pragma once
// The real Windows registry: keys held open for their subkeys and values, and
// the per-user value calls. Each member is the Windows call its port names.

#include "platform/registry.h"

namespace lenticor::win32 {

class Win32Registry final : public Registry {
  public:
    Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t access,
                       std::unique_ptr<RegistryKey>& key) override;
    Win32Error RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                            std::wstring_view valueName, std::uint32_t flags, std::size_t capacity,
                            std::uint32_t& type, std::vector<std::uint8_t>& data) override;
    Win32Error RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                               std::wstring_view valueName, std::uint32_t type,
                               std::span<const std::uint8_t> data) override;
    Win32Error RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                  std::wstring_view valueName) override;
};

}  // namespace lenticor::win32
