#pragma once
// The inventory record of one active display output, shared by the display
// list and the readiness commands.

#include "platform/display_config_types.h"

#include <cstdint>
#include <string>

namespace nimbo {

struct DisplayInfo {
    std::uint32_t index = 0;         // position in the list, 0-based over all adapters
    std::wstring name;               // GDI device name, e.g. \\.\DISPLAY1
    std::wstring friendlyName;       // GetMonitorFriendlyName(name)
    std::wstring manufacturerCode;   // EDID product code such as KZV1A07, or empty
    std::wstring adapterName;        // DXGI adapter description, or "Unknown"
    dcfg::RECTL desktopRect{};       // DXGI DesktopCoordinates
    std::int32_t refreshRate = 0;    // current dmDisplayFrequency, 0 when unreadable
    std::int32_t bitsPerPixel = 0;   // current dmBitsPerPel, 0 when unreadable
    std::int32_t orientation = 0;    // current dmDisplayOrientation, 0 when unreadable
    bool isPrimary = false;          // desktopRect starts at (0, 0)
    bool isCloned = false;           // shares its rectangle with another record
    std::uint32_t adapterIndex = 0;  // DXGI adapter ordinal
};

// Width and height of a desktop rectangle. Computed wide so a nonsensical
// rectangle cannot overflow; Windows' own rectangles always fit 32 bits.
[[nodiscard]] inline std::int64_t RectWidth(const dcfg::RECTL& rect) {
    return static_cast<std::int64_t>(rect.right) - rect.left;
}
[[nodiscard]] inline std::int64_t RectHeight(const dcfg::RECTL& rect) {
    return static_cast<std::int64_t>(rect.bottom) - rect.top;
}

enum class DisplayTopology : int {
    Internal = 0,
    Clone = 1,
    Extend = 2,
    External = 3,
    Unknown = 4,
};

// "internal", "clone", "extend", "external"; "unknown" for Unknown and for
// any value outside the enumeration.
[[nodiscard]] const char* TopologyName(DisplayTopology topology);

}  // namespace nimbo
