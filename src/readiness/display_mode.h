#pragma once
// The one mode a Nimbo counts as ready in, 3840x2160 at 60 Hz: reading the
// current mode, setting it, verifying it, and explaining a refusal with a
// summary of what the display offers.

#include "displays/display_info.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor {
class DisplayDevices;
}

namespace nimbo {

struct DisplayMode {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t refreshRate = 0;
    friend bool operator==(const DisplayMode&, const DisplayMode&) = default;
};

inline constexpr DisplayMode kNimboTargetMode{3840, 2160, 60};

struct KnownDisplayMode {
    DisplayMode mode;
    bool known = false;
};

struct NimboEnsureResult {
    bool ready = false;
    bool applied = false;
    KnownDisplayMode previousMode;
    KnownDisplayMode currentMode;
    std::int32_t displayIndex = -1;
    std::string nimboId;  // "nimbo", or "nimbo:" + the requested id
    std::string errorCode;
    std::string errorMessage;
};

// "3840x2160@60Hz".
[[nodiscard]] std::string FormatDisplayMode(const DisplayMode& mode);

// Every mode EnumDisplaySettingsW lists for the device, in its order,
// duplicates (other colour depths) included.
[[nodiscard]] std::vector<DisplayMode> ListDisplayModes(lenticor::DisplayDevices& devices,
                                                        std::wstring_view deviceName);

// "Nimbo modes (14): max 3840x2160@30Hz; 3840x2160@60Hz not listed", or
// "Nimbo modes: none listed".
[[nodiscard]] std::string SummarizeNimboModes(const std::vector<DisplayMode>& modes);

// Chooses the one Nimbo display and puts it into kNimboTargetMode. A change
// is stored in the registry and stays even when its verification fails.
[[nodiscard]] NimboEnsureResult EnsureNimboMode(lenticor::DisplayDevices& devices,
                                                const std::string& targetId,
                                                const std::vector<DisplayInfo>& displays);

}  // namespace nimbo
