#pragma once
// The simulated registry: the machine's keys, derived and explicit. Keys are
// case-insensitive; subkeys enumerate in case-insensitive name order, as
// Windows keeps them.

#include "platform/registry.h"

namespace lenticor::sim {

struct SimMachine;

class SimRegistry final : public Registry {
  public:
    explicit SimRegistry(SimMachine& machine) : machine_(machine) {}
    Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t access,
                       std::unique_ptr<RegistryKey>& key) override;
    // The value calls, in sim_registry_values.cpp.
    Win32Error RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                            std::wstring_view valueName, std::uint32_t flags, std::size_t capacity,
                            std::uint32_t& type, std::vector<std::uint8_t>& data) override;
    Win32Error RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                               std::wstring_view valueName, std::uint32_t type,
                               std::span<const std::uint8_t> data) override;
    Win32Error RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                  std::wstring_view valueName) override;

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
