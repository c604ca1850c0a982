#include "readiness/dpi_scale.h"

#include "app/sized_query.h"
#include "app/text.h"
#include "platform/display_config.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace nimbo {
namespace {

// The table index of step `step` for a source whose lowest step is
// `minScaleRel`; nullopt outside the table. Wide arithmetic, since the steps
// come from the driver and may be anything.
std::optional<std::size_t> TableIndex(std::int32_t minScaleRel, std::int32_t step) {
    const std::int64_t index = -std::int64_t{minScaleRel} + step;
    if (-std::int64_t{minScaleRel} < 0 ||
        -std::int64_t{minScaleRel} >= static_cast<std::int64_t>(kDpiPercentTable.size()) ||
        index < 0 || index >= static_cast<std::int64_t>(kDpiPercentTable.size())) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(index);
}

// The table index of the scale Windows shows. A monitor that never had a
// scale stored answers a current step outside its own range (1234568 has
// been seen on Windows 11); Windows then shows the recommended scale, step 0.
std::optional<std::size_t> ShownTableIndex(const DpiScaleInfo& scale) {
    const bool stored =
        scale.curScaleRel >= scale.minScaleRel && scale.curScaleRel <= scale.maxScaleRel;
    return TableIndex(scale.minScaleRel, stored ? scale.curScaleRel : 0);
}

}  // namespace

bool FindDisplayConfigSource(lenticor::DisplayConfig& config, std::wstring_view gdiName,
                             DisplayConfigSource& source, std::string& error) {
    // Our own mode change may still be settling the desktop: a query that
    // finds more paths than were sized is sized again.
    std::vector<dcfg::DISPLAYCONFIG_PATH_INFO> paths;
    std::vector<dcfg::DISPLAYCONFIG_MODE_INFO> modes;
    const auto queried = lenticor::QueryDisplayConfigSized(
        config, lenticor::kQdcOnlyActivePaths, paths, modes, nullptr,
        [&error](lenticor::Win32Error status, std::uint32_t, std::uint32_t) {
            if (status != lenticor::kErrorSuccess) {
                error = "GetDisplayConfigBufferSizes failed: " + std::to_string(status);
                return false;
            }
            return true;
        });
    if (!queried) {
        return false;
    }
    if (*queried != lenticor::kErrorSuccess) {
        error = "QueryDisplayConfig failed: " + std::to_string(*queried);
        return false;
    }
    for (const auto& path : paths) {
        lenticor::DisplayConfigSourceName name;
        if (config.GetSourceName(path.sourceInfo.adapterId, path.sourceInfo.id, name) !=
            lenticor::kErrorSuccess) {
            continue;
        }
        if (name.viewGdiDeviceName == gdiName) {
            source = {path.sourceInfo.adapterId, path.sourceInfo.id};
            return true;
        }
    }
    error = "DisplayConfig source not found for " + lenticor::WideToUtf8(gdiName);
    return false;
}

bool GetDpiScale(lenticor::DisplayConfig& config, const DisplayConfigSource& source,
                 DpiScaleInfo& info, std::string& error) {
    dcfg::DISPLAYCONFIG_GET_DPI_SCALE packet{};
    packet.header.type = dcfg::kDeviceInfoGetDpiScale;
    packet.header.size = sizeof(packet);
    packet.header.adapterId = source.adapterId;
    packet.header.id = source.sourceId;
    if (const auto status = config.GetDpiScale(packet); status != lenticor::kErrorSuccess) {
        error = "DisplayConfigGetDeviceInfo(GET_DPI_SCALE) failed: " + std::to_string(status);
        return false;
    }
    info = {packet.minScaleRel, packet.curScaleRel, packet.maxScaleRel};
    return true;
}

InitialDpiResult ApplyInitialDpi(lenticor::DisplayConfig& config, std::wstring_view gdiName,
                                 std::int32_t percent) {
    InitialDpiResult result;
    result.requested = true;
    result.percent = percent;
    const auto wanted = std::find(kDpiPercentTable.begin(), kDpiPercentTable.end(), percent);
    if (wanted == kDpiPercentTable.end()) {
        result.error = "Unsupported DPI percent: " + std::to_string(percent);
        return result;
    }
    DisplayConfigSource source;
    DpiScaleInfo scale;
    if (!FindDisplayConfigSource(config, gdiName, source, result.error) ||
        !GetDpiScale(config, source, scale, result.error)) {
        return result;
    }
    const auto current = ShownTableIndex(scale);
    if (!current) {
        result.error = "DisplayConfig DPI scale is outside supported percent table";
        return result;
    }
    result.previousPercent = result.currentPercent =
        static_cast<std::uint32_t>(kDpiPercentTable[*current]);
    if (kDpiPercentTable[*current] == percent) {
        result.alreadyAtTarget = true;
        return result;
    }
    const std::int64_t step = (wanted - kDpiPercentTable.begin()) + std::int64_t{scale.minScaleRel};
    if (step < scale.minScaleRel || step > scale.maxScaleRel) {
        result.error = "Requested DPI percent outside monitor range: " + std::to_string(percent);
        return result;
    }
    dcfg::DISPLAYCONFIG_SET_DPI_SCALE packet{};
    packet.header.type = dcfg::kDeviceInfoSetDpiScale;
    packet.header.size = sizeof(packet);
    packet.header.adapterId = source.adapterId;
    packet.header.id = source.sourceId;
    packet.scaleRel = static_cast<std::int32_t>(step);
    if (const auto status = config.SetDpiScale(packet); status != lenticor::kErrorSuccess) {
        result.error =
            "DisplayConfigSetDeviceInfo(SET_DPI_SCALE) failed: " + std::to_string(status);
        return result;
    }
    result.applied = true;
    // A read-back that fails or leaves the table is not an error: the set
    // itself was accepted, so the requested value is reported.
    std::string ignored;
    DpiScaleInfo after;
    const auto now =
        GetDpiScale(config, source, after, ignored) ? ShownTableIndex(after) : std::nullopt;
    result.currentPercent = static_cast<std::uint32_t>(now ? kDpiPercentTable[*now] : percent);
    return result;
}

}  // namespace nimbo
