#include "desktop/desktop_topology.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "app/text.h"
#include "desktop/snapshot_codec.h"

namespace nimbo {
namespace {

using dcfg::DISPLAYCONFIG_MODE_INFO;
using dcfg::DISPLAYCONFIG_PATH_INFO;

template <typename T>
std::string Hex(const T& record) {
    return lenticor::ToLowerHex(&record, sizeof(record));
}

void AppendModeHex(std::string& out, std::uint32_t index,
                   const std::vector<DISPLAYCONFIG_MODE_INFO>& modes) {
    if (index == dcfg::kInvalidModeIndex)
        return;
    if (index >= modes.size())
        throw std::runtime_error("desktop snapshot mode index out of bounds");
    out += NormalizedModeHex(modes[index]);
}

}  // namespace

std::string PathKey(const DISPLAYCONFIG_PATH_INFO& path, std::wstring_view name) {
    std::string key = lenticor::WideToUtf8(lenticor::ToLowerWide(name));
    key += '|';
    key += std::to_string(path.targetInfo.adapterId.HighPart);
    key += ':';
    key += std::to_string(path.targetInfo.adapterId.LowPart);
    key += ':';
    key += std::to_string(path.targetInfo.id);
    return key;
}

std::string_view KeyInterfacePart(std::string_view key) {
    return key.substr(0, key.find('|'));
}

std::string NormalizedModeHex(const DISPLAYCONFIG_MODE_INFO& mode) {
    DISPLAYCONFIG_MODE_INFO out;
    std::memset(&out, 0, sizeof(out));
    out.infoType = mode.infoType;
    out.id = mode.id;
    out.adapterId = mode.adapterId;
    switch (mode.infoType) {
        case dcfg::kModeInfoTypeSource:
            out.sourceMode = mode.sourceMode;
            break;
        case dcfg::kModeInfoTypeTarget: {
            const auto& in = mode.targetMode.targetVideoSignalInfo;
            auto& signal = out.targetMode.targetVideoSignalInfo;
            signal.pixelRate = in.pixelRate;
            signal.hSyncFreq = in.hSyncFreq;
            signal.vSyncFreq = in.vSyncFreq;
            signal.activeSize = in.activeSize;
            signal.totalSize = in.totalSize;
            // The ten reserved bits above the divider are not part of the mode.
            signal.videoStandard =
                in.videoStandard & (dcfg::kVideoStandardMask | dcfg::kVSyncFreqDividerMask);
            signal.scanLineOrdering = in.scanLineOrdering;
            break;
        }
        case dcfg::kModeInfoTypeDesktopImage:
            out.desktopImageInfo = mode.desktopImageInfo;
            break;
        default:
            throw std::runtime_error("unsupported desktop mode type");
    }
    return Hex(out);
}

std::string PathSignature(const DISPLAYCONFIG_PATH_INFO& path,
                          const std::vector<DISPLAYCONFIG_MODE_INFO>& modes) {
    DISPLAYCONFIG_PATH_INFO stable = path;
    stable.sourceInfo.modeInfoIdx = dcfg::kInvalidModeIndex;
    stable.targetInfo.modeInfoIdx = dcfg::kInvalidModeIndex;
    stable.sourceInfo.statusFlags = 0;
    stable.targetInfo.targetAvailable = 0;
    stable.targetInfo.statusFlags = 0;
    std::string signature = Hex(stable);
    AppendModeHex(signature, path.sourceInfo.modeInfoIdx, modes);
    AppendModeHex(signature, path.targetInfo.modeInfoIdx, modes);
    return signature;
}

DesktopTopology BuildDesktopTopology(const DesktopSnapshot& snapshot) {
    DesktopTopology topology;
    DesktopSnapshot active;
    active.modes = snapshot.modes;
    for (std::size_t i = 0; i < snapshot.paths.size(); ++i) {
        const auto& path = snapshot.paths[i];
        const std::wstring empty;
        const std::wstring& name = i < snapshot.names.size() ? snapshot.names[i] : empty;
        DesktopPathEntry entry;
        entry.active = (path.flags & dcfg::kPathActiveFlag) != 0;
        entry.available = path.targetInfo.targetAvailable != 0;
        if (!name.empty()) {
            entry.key = PathKey(path, name);
            if (entry.active) {
                entry.signature = PathSignature(path, snapshot.modes);
                active.paths.push_back(path);
                active.names.push_back(name);
            }
        } else if (!entry.available) {
            continue;
        }
        topology.targets.push_back(std::move(entry));
    }
    topology.snapshot = EncodeSnapshot(active);
    return topology;
}

std::vector<std::string> SurvivorSignatures(const DesktopTopology& topology,
                                            std::string_view excluded) {
    std::vector<std::string> list;
    for (const auto& entry : topology.targets) {
        if (!entry.active || entry.key.empty() || entry.key == excluded)
            continue;
        list.push_back(entry.key + "|" + entry.signature);
    }
    std::sort(list.begin(), list.end());
    return list;
}

void EvaluateTargetState(DesktopResult& result, const DesktopTopology& topology,
                         std::string_view key) {
    bool active = false;
    bool attached = false;
    for (const auto& entry : topology.targets) {
        if (entry.key != key)
            continue;
        active = active || entry.active;
        attached = attached || entry.available;
    }
    result.attached = attached;
    result.detached = result.owned && !active;
    result.presence = active ? "active" : attached ? "inactive" : "absent";
    result.state = active ? "on" : (result.owned && attached) ? "off" : "unknown";
}

bool IsActive(const DesktopTopology& topology, std::string_view key) {
    return std::any_of(topology.targets.begin(), topology.targets.end(),
                       [&](const DesktopPathEntry& e) { return e.key == key && e.active; });
}

bool IsInactiveOnly(const DesktopTopology& topology, std::string_view key) {
    bool available = false;
    for (const auto& entry : topology.targets) {
        if (entry.key != key)
            continue;
        if (entry.active)
            return false;
        available = available || entry.available;
    }
    return available;
}

}  // namespace nimbo
