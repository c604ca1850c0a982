#include "desktop/desktop_builders.h"

#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include "app/text.h"

namespace nimbo::test {
namespace {

// clang-format off
std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }
template <typename T>
T Zeroed() { T value; std::memset(&value, 0, sizeof(value)); return value; }
dcfg::LUID AdapterOf(const Monitor& m) { return {m.adapter, m.adapterHigh}; }
// clang-format on

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
    // clang-format off
    for (const auto& m : monitors) {
        auto path = Zeroed<dcfg::DISPLAYCONFIG_PATH_INFO>();
        auto &source = path.sourceInfo;
        auto &target = path.targetInfo;
        source.adapterId = target.adapterId = AdapterOf(m);
        source.id = m.sourceId;
        target.id = m.targetId;
        source.modeInfoIdx = target.modeInfoIdx = dcfg::kInvalidModeIndex;
        target.outputTechnology = 10;  // DisplayPort
        target.rotation = target.scaling = target.scanLineOrdering = 1;
        target.refreshRate = {m.refresh * 1000, 1000};
        target.targetAvailable = m.available ? 1 : 0;
        path.flags = (m.active ? dcfg::kPathActiveFlag : 0) | (m.virtualMode ? dcfg::kPathSupportVirtualModeFlag : 0);
        if (m.active) {
            source.statusFlags = target.statusFlags = 1;
            const auto [it, added] = sourceModes.try_emplace({m.adapter, m.sourceId}, static_cast<std::uint32_t>(snapshot.modes.size()));
            if (added) {
                auto mode = Zeroed<dcfg::DISPLAYCONFIG_MODE_INFO>();
                std::tie(mode.infoType, mode.id, mode.adapterId) = std::tuple(dcfg::kModeInfoTypeSource, m.sourceId, AdapterOf(m));
                mode.sourceMode = {m.width, m.height, 4, {m.x, m.y}};
                snapshot.modes.push_back(mode);
            }
            source.modeInfoIdx = it->second;
            auto mode = Zeroed<dcfg::DISPLAYCONFIG_MODE_INFO>();
            std::tie(mode.infoType, mode.id, mode.adapterId) = std::tuple(dcfg::kModeInfoTypeTarget, m.targetId, AdapterOf(m));
            auto& signal = mode.targetMode.targetVideoSignalInfo;
            signal.pixelRate = std::uint64_t{m.width + 160} * (m.height + 40) * m.refresh;
            signal.hSyncFreq = {(m.height + 40) * m.refresh, 1};
            signal.vSyncFreq = {m.refresh, 1};
            signal.activeSize = {m.width, m.height};
            signal.totalSize = {m.width + 160, m.height + 40};
            signal.videoStandard = 255 | (1u << 16);
            signal.scanLineOrdering = 1;
            target.modeInfoIdx = static_cast<std::uint32_t>(snapshot.modes.size());
            snapshot.modes.push_back(mode);
        }
        snapshot.paths.push_back(path);
        snapshot.names.push_back(m.named ? InterfacePathOf(m) : std::wstring());
    }
    // clang-format on
    return snapshot;
}

DesktopTopology BuildTopology(const std::vector<Monitor>& monitors) {
    return BuildDesktopTopology(BuildSnapshot(monitors));
}

}  // namespace nimbo::test
