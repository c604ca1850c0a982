#pragma once
// The real Windows display devices: EnumDisplayDevicesW, EnumDisplaySettingsW
// and ChangeDisplaySettingsExW, with the structure sizes the portable code
// relies on.

#include "platform/display_devices.h"

namespace lenticor::win32 {

class Win32DisplayDevices final : public DisplayDevices {
  public:
    std::optional<DisplayDevice> EnumDisplayDevices(std::optional<std::wstring_view> device,
                                                    std::uint32_t index,
                                                    std::uint32_t flags) override;
    std::optional<DisplaySettings> EnumDisplaySettings(std::wstring_view deviceName,
                                                       std::uint32_t modeNumber) override;
    std::int32_t ChangeDisplaySettingsEx(std::optional<std::wstring_view> deviceName,
                                         const DisplayModeRequest* mode,
                                         std::uint32_t flags) override;
};

}  // namespace lenticor::win32
