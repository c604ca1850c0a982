#pragma once
// The Windows display scale of one display, set in relative steps around the
// monitor's recommended scale through two display-configuration packets.

#include "platform/display_config_types.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lenticor {
class DisplayConfig;
}

namespace nimbo {

// The percentages Windows offers, in step order. A source reporting steps
// min..max has its recommended scale at index -min, and step s means index
// -min + s.
inline constexpr std::array<std::int32_t, 12> kDpiPercentTable = {100, 125, 150, 175, 200, 225,
                                                                  250, 300, 350, 400, 450, 500};

struct DpiScaleInfo {
    std::int32_t minScaleRel = 0;
    std::int32_t curScaleRel = 0;
    std::int32_t maxScaleRel = 0;
};

struct DisplayConfigSource {
    dcfg::LUID adapterId{};
    std::uint32_t sourceId = 0;
};

struct InitialDpiResult {
    bool requested = false;
    bool applied = false;
    bool alreadyAtTarget = false;
    std::int32_t percent = 0;
    std::uint32_t previousPercent = 0;
    std::uint32_t currentPercent = 0;
    std::string error;  // empty on success
};

// The active source whose GDI name is `gdiName` (exact code units). False
// with the reason in `error` otherwise.
[[nodiscard]] bool FindDisplayConfigSource(lenticor::DisplayConfig& config,
                                           std::wstring_view gdiName, DisplayConfigSource& source,
                                           std::string& error);

// The source's scale steps; false with the reason in `error`.
[[nodiscard]] bool GetDpiScale(lenticor::DisplayConfig& config, const DisplayConfigSource& source,
                               DpiScaleInfo& info, std::string& error);

// Sets the display named `gdiName` to `percent` and reads the result back.
// Never throws for a refusal: every failure is a text in `error`.
[[nodiscard]] InitialDpiResult ApplyInitialDpi(lenticor::DisplayConfig& config,
                                               std::wstring_view gdiName, std::int32_t percent);

}  // namespace nimbo
