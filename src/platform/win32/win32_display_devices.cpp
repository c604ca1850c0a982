#include "windows_api.h"

#include "fixed_text.h"
#include "win32_ports.h"

namespace lenticor::win32 {
namespace {

// The structure size the program has always passed; a different SDK layout
// would change what the driver fills in.
static_assert(sizeof(DEVMODEW) == 220);

// The real Windows display devices: EnumDisplayDevicesW, EnumDisplaySettingsW
// and ChangeDisplaySettingsExW, with the structure sizes the portable code
// relies on.
class Win32DisplayDevices final : public DisplayDevices {
  public:
    std::optional<DisplayDevice> EnumDisplayDevices(std::optional<std::wstring_view> device,
                                                    std::uint32_t index,
                                                    std::uint32_t flags) override {
        std::wstring deviceName;
        if (device) {
            deviceName.assign(*device);
        }
        DISPLAY_DEVICEW native{};
        native.cb = sizeof(native);
        if (!::EnumDisplayDevicesW(device ? deviceName.c_str() : nullptr, index, &native, flags)) {
            return std::nullopt;
        }
        return DisplayDevice{FromFixed(native.DeviceName), FromFixed(native.DeviceString),
                             native.StateFlags, FromFixed(native.DeviceID),
                             FromFixed(native.DeviceKey)};
    }

    std::optional<DisplaySettings> EnumDisplaySettings(std::wstring_view deviceName,
                                                       std::uint32_t modeNumber) override {
        const std::wstring name(deviceName);
        DEVMODEW mode{};
        mode.dmSize = sizeof(mode);
        if (!::EnumDisplaySettingsW(name.c_str(), modeNumber, &mode)) {
            return std::nullopt;
        }
        DisplaySettings settings;
        settings.fields = mode.dmFields;
        settings.positionX = mode.dmPosition.x;
        settings.positionY = mode.dmPosition.y;
        settings.displayOrientation = mode.dmDisplayOrientation;
        settings.bitsPerPel = mode.dmBitsPerPel;
        settings.pelsWidth = mode.dmPelsWidth;
        settings.pelsHeight = mode.dmPelsHeight;
        settings.displayFrequency = mode.dmDisplayFrequency;
        return settings;
    }

    std::int32_t ChangeDisplaySettingsEx(std::optional<std::wstring_view> deviceName,
                                         const DisplayModeRequest* mode,
                                         std::uint32_t flags) override {
        std::wstring name;
        if (deviceName) {
            name.assign(*deviceName);
        }
        DEVMODEW native{};
        if (mode != nullptr) {
            native.dmSize = sizeof(native);
            native.dmFields = mode->fields;
            native.dmPelsWidth = mode->pelsWidth;
            native.dmPelsHeight = mode->pelsHeight;
            native.dmDisplayFrequency = mode->displayFrequency;
        }
        return ::ChangeDisplaySettingsExW(deviceName ? name.c_str() : nullptr,
                                          mode != nullptr ? &native : nullptr, nullptr, flags,
                                          nullptr);
    }
};

}  // namespace

std::unique_ptr<DisplayDevices> MakeWin32DisplayDevices() {
    return std::make_unique<Win32DisplayDevices>();
}

}  // namespace lenticor::win32
