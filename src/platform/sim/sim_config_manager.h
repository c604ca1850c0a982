#pragma once
// The configuration manager of the simulated machine: the device nodes of the
// plugged-in monitors and the machine's USB devices.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/config_manager.h"

namespace lenticor::sim {

struct SimMachine;

// Interface path -> DISPLAY\<model>\<instance> -> driver key, for every
// monitor that is plugged in.
class SimConfigManager final : public ConfigManager {
  public:
    explicit SimConfigManager(SimMachine& machine) : machine_(machine) {}
    ConfigRet GetDeviceInterfaceProperty(std::wstring_view interfacePath, DeviceProperty key,
                                         std::uint32_t& type, std::span<std::uint8_t> buffer,
                                         std::uint32_t& size) override;
    ConfigRet LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                            std::uint32_t flags) override;
    ConfigRet GetDevNodeProperty(DevInst devInst, DeviceProperty key, std::uint32_t& type,
                                 std::span<std::uint8_t> buffer, std::uint32_t& size) override;
    // USB devices; the simulation lists no other enumerator's devices.
    ConfigRet GetDeviceIdListSize(std::uint32_t& size, std::wstring_view filter,
                                  std::uint32_t flags) override;
    ConfigRet GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer,
                              std::uint32_t flags) override;

  private:
    [[nodiscard]] std::vector<wchar_t> DeviceIdList(std::wstring_view filter,
                                                    std::uint32_t flags) const;

    SimMachine& machine_;
    std::uint32_t listChanges_ = 0;  // growths reported of faults.deviceIdListChanges
};

}  // namespace lenticor::sim
