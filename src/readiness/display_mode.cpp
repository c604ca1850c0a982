#include "readiness/display_mode.h"

#include "platform/display_devices.h"
#include "readiness/nimbo_match.h"

#include <algorithm>
#include <optional>
#include <tuple>

namespace nimbo {
namespace {

std::optional<DisplayMode> ReadMode(lenticor::DisplayDevices& devices, std::wstring_view name,
                                    std::uint32_t modeNumber) {
    const auto settings = devices.EnumDisplaySettings(name, modeNumber);
    if (!settings) {
        return std::nullopt;
    }
    return DisplayMode{static_cast<std::int32_t>(settings->pelsWidth),
                       static_cast<std::int32_t>(settings->pelsHeight),
                       static_cast<std::int32_t>(settings->displayFrequency)};
}

std::int64_t PixelCount(const DisplayMode& mode) {
    return std::int64_t{mode.width} * mode.height;
}

}  // namespace

std::string FormatDisplayMode(const DisplayMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" +
           std::to_string(mode.refreshRate) + "Hz";
}

std::vector<DisplayMode> ListDisplayModes(lenticor::DisplayDevices& devices,
                                          std::wstring_view deviceName) {
    std::vector<DisplayMode> modes;
    for (std::uint32_t i = 0;; ++i) {
        const auto mode = ReadMode(devices, deviceName, i);
        if (!mode) {
            break;
        }
        modes.push_back(*mode);
    }
    return modes;
}

std::string SummarizeNimboModes(const std::vector<DisplayMode>& modes) {
    auto distinct = modes;
    std::sort(distinct.begin(), distinct.end(), [](const DisplayMode& a, const DisplayMode& b) {
        return std::tie(a.width, a.height, a.refreshRate) <
               std::tie(b.width, b.height, b.refreshRate);
    });
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    if (distinct.empty()) {
        return "Nimbo modes: none listed";
    }
    // Among equal maxima the one that sorts first stays.
    DisplayMode maximum = distinct.front();
    for (const auto& mode : distinct) {
        if (PixelCount(mode) > PixelCount(maximum) ||
            (PixelCount(mode) == PixelCount(maximum) && mode.refreshRate > maximum.refreshRate)) {
            maximum = mode;
        }
    }
    const bool listed =
        std::find(distinct.begin(), distinct.end(), kNimboTargetMode) != distinct.end();
    return "Nimbo modes (" + std::to_string(distinct.size()) + "): max " +
           FormatDisplayMode(maximum) + "; " + FormatDisplayMode(kNimboTargetMode) +
           (listed ? " listed" : " not listed");
}

NimboEnsureResult EnsureNimboMode(lenticor::DisplayDevices& devices, const std::string& targetId,
                                  const std::vector<DisplayInfo>& displays) {
    NimboEnsureResult result;
    const auto match = MatchNimboTarget(displays, !targetId.empty());
    if (match.position < 0) {
        result.errorCode = match.errorCode;
        result.errorMessage = match.errorMessage;
        return result;
    }
    const auto& display = displays[static_cast<std::size_t>(match.position)];
    result.displayIndex = static_cast<std::int32_t>(display.index);
    result.nimboId = targetId.empty() ? "nimbo" : "nimbo:" + targetId;
    const auto fail = [&result](std::string message) {
        result.errorCode = "NIMBO_MODE_SET_FAILED";
        result.errorMessage = std::move(message);
        return result;
    };

    const auto previous = ReadMode(devices, display.name, lenticor::kEnumCurrentSettings);
    if (!previous) {
        return fail("EnumDisplaySettingsW failed to read current mode");
    }
    result.previousMode = {*previous, true};
    if (*previous == kNimboTargetMode) {
        result.ready = true;
        result.currentMode = result.previousMode;
        return result;
    }

    // Stored first and applied by a second call: the change then persists as
    // the device's registry mode, as a user's own change in Settings would.
    lenticor::DisplayModeRequest request;
    request.fields =
        lenticor::kDmPelsWidth | lenticor::kDmPelsHeight | lenticor::kDmDisplayFrequency;
    request.pelsWidth = static_cast<std::uint32_t>(kNimboTargetMode.width);
    request.pelsHeight = static_cast<std::uint32_t>(kNimboTargetMode.height);
    request.displayFrequency = static_cast<std::uint32_t>(kNimboTargetMode.refreshRate);
    const auto stored = devices.ChangeDisplaySettingsEx(
        display.name, &request, lenticor::kCdsUpdateRegistry | lenticor::kCdsNoReset);
    if (stored != lenticor::kDispChangeSuccessful) {
        result.currentMode = result.previousMode;
        return fail("ChangeDisplaySettingsExW returned " + std::to_string(stored) + "; " +
                    SummarizeNimboModes(ListDisplayModes(devices, display.name)));
    }
    // The outcome is judged by reading the mode back, not by this answer.
    static_cast<void>(devices.ChangeDisplaySettingsEx(std::nullopt, nullptr, 0));

    const auto current = ReadMode(devices, display.name, lenticor::kEnumCurrentSettings);
    if (!current) {
        return fail("EnumDisplaySettingsW failed after mode change");
    }
    result.currentMode = {*current, true};
    if (*current == kNimboTargetMode) {
        result.ready = true;
        result.applied = true;
        return result;
    }
    return fail("Mode change did not stick; got " + FormatDisplayMode(*current) + "; " +
                SummarizeNimboModes(ListDisplayModes(devices, display.name)));
}

}  // namespace nimbo
