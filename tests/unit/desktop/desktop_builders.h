#pragma once
// Compact descriptions of monitors, turned into the raw records Windows would
// report, so tests talk about "a Nimbo right of the primary" instead of hex.

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "desktop/desktop_topology.h"

namespace nimbo::test {

inline constexpr const char* kNimboModel = "KZV1A07";
inline constexpr const char* kOtherModel = "DEL41B2";

struct Monitor {
    std::string model = kOtherModel;
    std::uint32_t targetId = 1, sourceId = 0;
    std::uint32_t adapter = 0x1000;  // adapter LUID LowPart
    std::int32_t adapterHigh = 0, x = 0, y = 0;
    std::uint32_t width = 1920, height = 1080, refresh = 60;
    bool active = true, available = true;
    bool named = true;            // the interface path could be read
    bool virtualMode = false;     // path flag DISPLAYCONFIG_PATH_SUPPORT_VIRTUAL_MODE
    bool identityBroken = false;  // device tree does not confirm the hardware id
    std::string instance = "";    // interface instance part; derived from targetId when empty
    std::string driver = "0001";  // tail of the hardware id
};

Monitor NimboAt(std::uint32_t targetId, std::uint32_t sourceId, std::int32_t x, std::int32_t y = 0);
Monitor OtherAt(std::uint32_t targetId, std::uint32_t sourceId, std::int32_t x, std::int32_t y = 0);

std::wstring InterfacePathOf(const Monitor& monitor);  // as Windows spells it
std::wstring DisplayIdOf(const Monitor& monitor);      // "MONITOR\model\{class}\driver"
std::string KeyOf(const Monitor& monitor);

// Active monitors get a source mode (shared by monitors on one source) and a
// target mode; inactive ones a path without modes.
DesktopSnapshot BuildSnapshot(const std::vector<Monitor>& monitors);
DesktopTopology BuildTopology(const std::vector<Monitor>& monitors);

// The message of whatever `action` throws, or "" when it does not throw.
// clang-format off
template <typename F>
std::string ErrorOf(F&& action) {
    try { action(); } catch (const std::exception& error) { return error.what(); }
    return "";
}
// clang-format on

}  // namespace nimbo::test
