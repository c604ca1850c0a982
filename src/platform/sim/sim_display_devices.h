#pragma once
// EnumDisplayDevicesW and EnumDisplaySettingsW over the simulated outputs
// and their monitors; ChangeDisplaySettingsExW changes the machine's modes.

#include "platform/display_devices.h"

namespace lenticor::sim {

struct SimMachine;

class SimDisplayDevices final : public DisplayDevices {
  public:
    explicit SimDisplayDevices(SimMachine& machine) : machine_(machine) {}
    std::optional<DisplayDevice> EnumDisplayDevices(std::optional<std::wstring_view> device,
                                                    std::uint32_t index,
                                                    std::uint32_t flags) override;
    std::optional<DisplaySettings> EnumDisplaySettings(std::wstring_view deviceName,
                                                       std::uint32_t modeNumber) override;
    // In sim_readiness.cpp.
    std::int32_t ChangeDisplaySettingsEx(std::optional<std::wstring_view> deviceName,
                                         const DisplayModeRequest* mode,
                                         std::uint32_t flags) override;

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
