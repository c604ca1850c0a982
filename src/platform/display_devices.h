#pragma once
// Port: the Win32 display-device tables (EnumDisplayDevicesW,
// EnumDisplaySettingsW, ChangeDisplaySettingsExW).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lenticor {

// DISPLAY_DEVICEW. Windows truncates each text to its fixed array (DeviceName
// 31 code units, the others 127).
struct DisplayDevice {
    std::wstring deviceName;
    std::wstring deviceString;
    std::uint32_t stateFlags = 0;
    std::wstring deviceId;
    std::wstring deviceKey;
};

// DISPLAY_DEVICE_* state flags.
constexpr std::uint32_t kDisplayDeviceActive =
    0x1;  // for monitors; ATTACHED_TO_DESKTOP for adapters
constexpr std::uint32_t kDisplayDeviceAttached = 0x2;
constexpr std::uint32_t kDisplayDevicePrimaryDevice = 0x4;

// EnumDisplayDevicesW flag: DeviceID holds the monitor's device interface path
// instead of its hardware id.
constexpr std::uint32_t kEddGetDeviceInterfaceName = 0x1;

// ENUM_CURRENT_SETTINGS as a mode number.
constexpr std::uint32_t kEnumCurrentSettings = 0xFFFFFFFFu;

// The DEVMODEW members the program reads.
struct DisplaySettings {
    std::uint32_t fields = 0;  // dmFields
    std::int32_t positionX = 0;
    std::int32_t positionY = 0;
    std::uint32_t displayOrientation = 0;  // DMDO_DEFAULT 0 .. DMDO_270 3
    std::uint32_t bitsPerPel = 0;
    std::uint32_t pelsWidth = 0;
    std::uint32_t pelsHeight = 0;
    std::uint32_t displayFrequency = 0;
};

// DM_* field bits of a mode to set.
constexpr std::uint32_t kDmPelsWidth = 0x80000;
constexpr std::uint32_t kDmPelsHeight = 0x100000;
constexpr std::uint32_t kDmDisplayFrequency = 0x400000;

// ChangeDisplaySettingsExW flags and DISP_CHANGE_* results.
constexpr std::uint32_t kCdsUpdateRegistry = 0x1;
constexpr std::uint32_t kCdsNoReset = 0x10000000;
constexpr std::int32_t kDispChangeSuccessful = 0;
constexpr std::int32_t kDispChangeRestart = 1;
constexpr std::int32_t kDispChangeFailed = -1;
constexpr std::int32_t kDispChangeBadMode = -2;
constexpr std::int32_t kDispChangeBadParam = -5;

// The DEVMODEW members a mode change sets; the rest of the 220-byte
// structure is zero, dmSize its size.
struct DisplayModeRequest {
    std::uint32_t fields = 0;  // dmFields
    std::uint32_t pelsWidth = 0;
    std::uint32_t pelsHeight = 0;
    std::uint32_t displayFrequency = 0;
};

class DisplayDevices {
  public:
    virtual ~DisplayDevices() = default;

    // EnumDisplayDevicesW(device, index, flags). `device` nullopt is NULL: the
    // display adapters (one per GDI source); a GDI device name lists the
    // monitors on that source. nullopt once `index` is past the end (the call
    // returned FALSE).
    [[nodiscard]] virtual std::optional<DisplayDevice> EnumDisplayDevices(
        std::optional<std::wstring_view> device, std::uint32_t index, std::uint32_t flags) = 0;

    // EnumDisplaySettingsW(deviceName, modeNumber) on a zeroed DEVMODEW of the
    // structure's own size; `modeNumber` is kEnumCurrentSettings or an index
    // into the modes the device offers. nullopt when the call returned FALSE.
    [[nodiscard]] virtual std::optional<DisplaySettings> EnumDisplaySettings(
        std::wstring_view deviceName, std::uint32_t modeNumber) = 0;

    // ChangeDisplaySettingsExW(deviceName, mode, NULL, flags, NULL): the
    // DISP_CHANGE_* value. With CDS_UPDATEREGISTRY | CDS_NORESET the mode is
    // stored for the device and takes effect at the next call with both
    // `deviceName` and `mode` nullopt (the "apply what is stored" call).
    [[nodiscard]] virtual std::int32_t ChangeDisplaySettingsEx(
        std::optional<std::wstring_view> deviceName, const DisplayModeRequest* mode,
        std::uint32_t flags) = 0;
};

}  // namespace lenticor
