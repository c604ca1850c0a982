#pragma once
// Human-readable monitor names: the EDID name descriptor from the registry's
// copy of the monitor's EDID, with fallbacks through the display-device
// tables. None of these reports a failure; each falls back to a weaker name.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lenticor {
class DisplayDevices;
class Registry;
struct DisplayDevice;
}  // namespace lenticor

namespace nimbo {

// The EDID product code in a monitor device id: the text after the first
// "MONITOR\" up to the next "\" (searched from just after the prefix).
//   "MONITOR\KZV1A07\{4d36e96e-e325-11ce-bfc1-08002be10318}\0001" -> "KZV1A07"
// Empty for ids shorter than 8 characters, without the prefix (matched
// case-sensitively) or without a following "\".
[[nodiscard]] std::wstring ModelCodeFromDeviceId(std::wstring_view deviceId);

// The monitor name held in a 128-byte EDID base block: the first of the four
// 18-byte descriptors (offsets 54, 72, 90, 108) tagged 00 00 00 FC 00 whose
// text, bytes 5-17 up to the first NUL or line feed and without trailing
// blanks and control characters, is not empty. Each byte becomes one UTF-16 code unit (bytes above
// 0x7F map to U+0080..U+00FF). Empty when `edid` is shorter than 128 bytes or
// holds no such descriptor.
//   ... 00 00 00 FC 00 'K' 'o' 'r' 'v' 'o' ' ' 'N' 'i' 'm' 'b' 'o' 0A 20 ... -> "Korvo Nimbo"
[[nodiscard]] std::wstring MonitorNameFromEdid(std::span<const std::uint8_t> edid);

// The EDID monitor name of the first instance subkey of the device id's model
// under HKLM\SYSTEM\CurrentControlSet\Enum\DISPLAY\<model> whose
// "Device Parameters\EDID" holds one. Empty when none does.
[[nodiscard]] std::wstring ReadEdidMonitorName(lenticor::Registry& registry,
                                               std::wstring_view deviceId);

// The display adapter (EnumDisplayDevicesW with NULL) whose DeviceName equals
// `deviceName`, or nullopt when the enumeration ends without one.
[[nodiscard]] std::optional<lenticor::DisplayDevice> FindDisplayAdapter(
    lenticor::DisplayDevices& devices, std::wstring_view deviceName);

// The best name for the monitor on GDI device `deviceName`: its EDID name;
// for a generic monitor driver its model code, or the adapter's device string
// when the model is unknown ("Default_Monitor"); otherwise the monitor's
// device string. Without a monitor the adapter's device string, without a
// matching adapter `deviceName` itself.
[[nodiscard]] std::wstring GetMonitorFriendlyName(lenticor::DisplayDevices& devices,
                                                  lenticor::Registry& registry,
                                                  std::wstring_view deviceName);

}  // namespace nimbo
