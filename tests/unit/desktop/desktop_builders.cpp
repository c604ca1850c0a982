#include "desktop/desktop_builders.h"

#include <cstring>
#include <map>
#include <utility>

#include "app/text.h"

namespace nimbo::test {
namespace {

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

template <typename T>
T Zeroed() {
    T value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

dcfg::LUID AdapterOf(const Monitor& m) {
    return {m.adapter, m.adapterHigh};
}

}  // namespace

Monitor NimboAt(std::uint32_t targetId, std::uint32_t sourceId, std::int32_t x, std::int32_t y) {
    // clang-format off
    return {.model = kNimboModel, .targetId = targetId, .sourceId = sourceId, .x = x, .y = y, .width = 3840, .height = 2160};
    // clang-format on
}

Monitor OtherAt(std::uint32_t targetId, std::uint32_t sourceId, std::int32_t x, std::int32_t y) {
    return {.targetId = targetId, .sourceId = sourceId, .x = x, .y = y};
}

std::wstring InterfacePathOf(const Monitor& m) {
    const std::string instance =
        m.instance.empty() ? "5&1a2b3c4d&0&UID" + std::to_string(m.targetId) : m.instance;
    return Widen("\\\\?\\DISPLAY#" + m.model + "#" + instance +
                 "#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}");
}

std::wstring DisplayIdOf(const Monitor& m) {
    return Widen("MONITOR\\" + m.model + "\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\" + m.driver);
}

std::string KeyOf(const Monitor& m) {
    return PathKey(BuildSnapshot({m}).paths[0], InterfacePathOf(m));
}

DesktopSnapshot BuildSnapshot(const std::vector<Monitor>& monitors) {
    DesktopSnapshot snapshot;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> sourceModes;
    for (const auto& m : monitors) {
        auto path = Zeroed<dcfg::DISPLAYCONFIG_PATH_INFO>();
        path.sourceInfo.adapterId = AdapterOf(m);
        path.sourceInfo.id = m.sourceId;
        path.sourceInfo.modeInfoIdx = dcfg::kInvalidModeIndex;
        path.targetInfo.adapterId = AdapterOf(m);
        path.targetInfo.id = m.targetId;
        path.targetInfo.modeInfoIdx = dcfg::kInvalidModeIndex;
        path.targetInfo.outputTechnology = 10;  // DisplayPort
        path.targetInfo.rotation = 1;
        path.targetInfo.scaling = 1;
        path.targetInfo.refreshRate = {m.refresh * 1000, 1000};
        path.targetInfo.scanLineOrdering = 1;
        path.targetInfo.targetAvailable = m.available ? 1 : 0;
        path.flags = (m.active ? dcfg::kPathActiveFlag : 0) |
                     (m.virtualMode ? dcfg::kPathSupportVirtualModeFlag : 0);
        if (m.active) {
            path.sourceInfo.statusFlags = 1;
            path.targetInfo.statusFlags = 1;
            const auto [it, added] = sourceModes.try_emplace(
                {m.adapter, m.sourceId}, static_cast<std::uint32_t>(snapshot.modes.size()));
            if (added) {
                auto mode = Zeroed<dcfg::DISPLAYCONFIG_MODE_INFO>();
                mode.infoType = dcfg::kModeInfoTypeSource;
                mode.id = m.sourceId;
                mode.adapterId = AdapterOf(m);
                mode.sourceMode = {m.width, m.height, 4, {m.x, m.y}};
                snapshot.modes.push_back(mode);
            }
            path.sourceInfo.modeInfoIdx = it->second;
            auto mode = Zeroed<dcfg::DISPLAYCONFIG_MODE_INFO>();
            mode.infoType = dcfg::kModeInfoTypeTarget;
            mode.id = m.targetId;
            mode.adapterId = AdapterOf(m);
            auto& signal = mode.targetMode.targetVideoSignalInfo;
            signal.pixelRate = std::uint64_t{m.width + 160} * (m.height + 40) * m.refresh;
            signal.hSyncFreq = {(m.height + 40) * m.refresh, 1};
            signal.vSyncFreq = {m.refresh, 1};
            signal.activeSize = {m.width, m.height};
            signal.totalSize = {m.width + 160, m.height + 40};
            signal.videoStandard = 255 | (1u << 16);
            signal.scanLineOrdering = 1;
            path.targetInfo.modeInfoIdx = static_cast<std::uint32_t>(snapshot.modes.size());
            snapshot.modes.push_back(mode);
        }
        snapshot.paths.push_back(path);
        snapshot.names.push_back(m.named ? InterfacePathOf(m) : std::wstring());
    }
    return snapshot;
}

DesktopTopology BuildTopology(const std::vector<Monitor>& monitors) {
    return BuildDesktopTopology(BuildSnapshot(monitors));
}

}  // namespace nimbo::test
