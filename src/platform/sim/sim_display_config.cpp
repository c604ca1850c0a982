#include "platform/sim/sim_display_config.h"

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_records.h"

#include <algorithm>

namespace lenticor::sim {
namespace {

using nimbo::dcfg::DISPLAYCONFIG_MODE_INFO;
using nimbo::dcfg::DISPLAYCONFIG_PATH_INFO;

constexpr std::uint32_t kValidateFlags = 0x60;
constexpr std::uint32_t kApplyFlags = 0xA0;
constexpr std::uint32_t kSaveToDatabase = 0x200;  // SDC_SAVE_TO_DATABASE

std::uint32_t BitsOf(std::uint32_t pixelFormat) {
    return pixelFormat >= 1 && pixelFormat <= 4 ? pixelFormat * 8 : 0;
}

struct Placement {
    SimTargetPlace where;
    std::int32_t x, y;
    SimMode mode;
};

bool Overlap(const Placement& a, const Placement& b) {
    const std::int64_t left = std::max<std::int64_t>(a.x, b.x);
    const std::int64_t right =
        std::min<std::int64_t>(std::int64_t{a.x} + a.mode.width, std::int64_t{b.x} + b.mode.width);
    const std::int64_t top = std::max<std::int64_t>(a.y, b.y);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{a.y} + a.mode.height,
                                                       std::int64_t{b.y} + b.mode.height);
    return left < right && top < bottom;
}

// GDI may move source surfaces of a supplied layout, in a way Microsoft leaves
// undefined (https://learn.microsoft.com/en-us/windows-hardware/drivers/display/desktop-layout).
// The simulated rearrangement closes the space a display taken off the
// desktop leaves: surfaces wholly beyond it in its rows move left by its
// width, those wholly below it in its columns move up by its height, and the
// primary stays at (0, 0). A result that would overlap is not applied.
void CloseRemovedSpace(const SimMachine& machine, std::vector<Placement>& placements) {
    const auto current = [&](const Placement& p) -> const SimOutput& {
        return machine.adapters[p.where.adapter].outputs[p.where.output];
    };
    // The supplied layout may be shifted as a whole against the current one
    // (a new primary); the removed displays are placed in the supplied frame.
    const Placement& anchor = placements.front();
    if (!current(anchor).active)
        return;
    const std::int64_t dx = std::int64_t{anchor.x} - current(anchor).x;
    const std::int64_t dy = std::int64_t{anchor.y} - current(anchor).y;
    std::vector<Placement> moved = placements;
    for (std::size_t a = 0; a < machine.adapters.size(); ++a) {
        const auto& outputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            const SimOutput& gone = outputs[o];
            if (!gone.active ||
                std::any_of(placements.begin(), placements.end(), [&](const Placement& p) {
                    return p.where.adapter == a && p.where.output == o;
                }))
                continue;
            const std::int64_t left = gone.x + dx;
            const std::int64_t top = gone.y + dy;
            const std::int64_t right = left + gone.mode.width;
            const std::int64_t bottom = top + gone.mode.height;
            for (std::size_t i = 0; i < placements.size(); ++i) {
                const Placement& p = placements[i];
                const std::int64_t pRight = std::int64_t{p.x} + p.mode.width;
                const std::int64_t pBottom = std::int64_t{p.y} + p.mode.height;
                if (p.x >= right && p.y < bottom && top < pBottom)
                    moved[i].x -= static_cast<std::int32_t>(gone.mode.width);
                else if (p.y >= bottom && p.x < right && left < pRight)
                    moved[i].y -= static_cast<std::int32_t>(gone.mode.height);
            }
        }
    }
    const auto primary = std::find_if(placements.begin(), placements.end(),
                                      [](const Placement& p) { return p.x == 0 && p.y == 0; });
    const Placement origin = moved[static_cast<std::size_t>(primary - placements.begin())];
    for (auto& p : moved) {
        p.x -= origin.x;
        p.y -= origin.y;
    }
    for (std::size_t i = 0; i < moved.size(); ++i) {
        for (std::size_t j = i + 1; j < moved.size(); ++j) {
            if (Overlap(moved[i], moved[j]))
                return;
        }
    }
    placements = std::move(moved);
}

constexpr std::uint32_t kPathActive = 0x1;
constexpr std::uint32_t kInUse = 0x1;

std::uint32_t PixelFormat(std::uint32_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8:
            return 1;
        case 16:
            return 2;
        case 24:
            return 3;
        default:
            return 4;
    }
}

struct Configuration {
    std::vector<DISPLAYCONFIG_PATH_INFO> paths;
    std::vector<DISPLAYCONFIG_MODE_INFO> modes;
};

DISPLAYCONFIG_PATH_INFO BasePath(const SimAdapter& adapter, const SimOutput& output) {
    DISPLAYCONFIG_PATH_INFO path{};
    path.sourceInfo.adapterId = adapter.luid;
    path.sourceInfo.id = output.sourceId;
    path.sourceInfo.modeInfoIdx = nimbo::dcfg::kInvalidModeIndex;
    path.targetInfo.adapterId = adapter.luid;
    path.targetInfo.id = output.targetId;
    path.targetInfo.modeInfoIdx = nimbo::dcfg::kInvalidModeIndex;
    path.targetInfo.outputTechnology = output.outputTechnology;
    path.targetInfo.rotation = output.orientation + 1;
    path.targetInfo.scaling = 1;  // identity
    path.targetInfo.refreshRate = {output.mode.refreshRate, 1};
    path.targetInfo.scanLineOrdering = 1;  // progressive
    path.targetInfo.targetAvailable = output.monitor ? 1 : 0;
    return path;
}

Configuration BuildConfiguration(const SimMachine& machine, bool includeInactive) {
    Configuration config;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            if (!output.active) {
                continue;
            }
            auto path = BasePath(adapter, output);
            path.flags = kPathActive;
            path.sourceInfo.statusFlags = kInUse;
            path.targetInfo.statusFlags = kInUse;

            DISPLAYCONFIG_MODE_INFO source{};
            source.infoType = nimbo::dcfg::kModeInfoTypeSource;
            source.id = output.sourceId;
            source.adapterId = adapter.luid;
            source.sourceMode = {output.mode.width,
                                 output.mode.height,
                                 PixelFormat(output.mode.bitsPerPixel),
                                 {output.x, output.y}};
            path.sourceInfo.modeInfoIdx = static_cast<std::uint32_t>(config.modes.size());
            config.modes.push_back(source);

            DISPLAYCONFIG_MODE_INFO target{};
            target.infoType = nimbo::dcfg::kModeInfoTypeTarget;
            target.id = output.targetId;
            target.adapterId = adapter.luid;
            auto& signal = target.targetMode.targetVideoSignalInfo;
            signal.pixelRate =
                std::uint64_t{output.mode.width} * output.mode.height * output.mode.refreshRate;
            signal.hSyncFreq = {output.mode.height * output.mode.refreshRate, 1};
            signal.vSyncFreq = {output.mode.refreshRate, 1};
            signal.activeSize = {output.mode.width, output.mode.height};
            signal.totalSize = {output.mode.width, output.mode.height};
            signal.videoStandard = 255;  // D3DKMDT_VSS_OTHER
            signal.scanLineOrdering = 1;
            path.targetInfo.modeInfoIdx = static_cast<std::uint32_t>(config.modes.size());
            config.modes.push_back(target);

            config.paths.push_back(path);
            // Duplicating on one source: one path per target, all naming the
            // source's one source mode, each with its own target mode
            // (https://learn.microsoft.com/en-us/windows/win32/api/wingdi/ns-wingdi-displayconfig_path_source_info).
            for (const auto& clone : output.clones) {
                auto clonePath = path;
                clonePath.targetInfo.id = clone.targetId;
                clonePath.targetInfo.outputTechnology = clone.outputTechnology;
                target.id = clone.targetId;
                clonePath.targetInfo.modeInfoIdx = static_cast<std::uint32_t>(config.modes.size());
                config.modes.push_back(target);
                config.paths.push_back(clonePath);
            }
        }
    }
    if (includeInactive) {
        // Every source of the adapter could drive every target: each pairing
        // that is not on the desktop is listed as an inactive path.
        for (const auto& adapter : machine.adapters) {
            for (const auto& output : adapter.outputs) {
                for (const auto& source : adapter.outputs) {
                    if (output.active && source.sourceId == output.sourceId) {
                        continue;
                    }
                    auto path = BasePath(adapter, output);
                    path.sourceInfo.id = source.sourceId;
                    config.paths.push_back(path);
                }
            }
        }
    }
    return config;
}

// Exactly one of the three query kinds; other bits are not simulated.
bool ValidQueryFlags(std::uint32_t flags) {
    return flags == kQdcAllPaths || flags == kQdcOnlyActivePaths || flags == kQdcDatabaseCurrent;
}

}  // namespace

Win32Error SimDisplayConfig::GetDisplayConfigBufferSizes(std::uint32_t flags,
                                                         std::uint32_t& pathCount,
                                                         std::uint32_t& modeCount) {
    const PortCall counted;
    if (machine_.faults.getDisplayConfigBufferSizes) {
        return *machine_.faults.getDisplayConfigBufferSizes;
    }
    if (!ValidQueryFlags(flags)) {
        return kErrorInvalidParameter;
    }
    const auto config = BuildConfiguration(machine_, flags == kQdcAllPaths);
    pathCount = static_cast<std::uint32_t>(config.paths.size());
    modeCount = static_cast<std::uint32_t>(config.modes.size());
    return kErrorSuccess;
}

Win32Error SimDisplayConfig::QueryDisplayConfig(std::uint32_t flags,
                                                std::vector<DISPLAYCONFIG_PATH_INFO>& paths,
                                                std::vector<DISPLAYCONFIG_MODE_INFO>& modes,
                                                std::uint32_t* topologyId) {
    const PortCall counted;
    if (machine_.faults.queryDisplayConfig) {
        return *machine_.faults.queryDisplayConfig;
    }
    if (!ValidQueryFlags(flags) || (topologyId != nullptr) != (flags == kQdcDatabaseCurrent)) {
        return kErrorInvalidParameter;
    }
    if (const auto changed = SimBeforeQuery(machine_)) {
        return *changed;
    }
    auto config = BuildConfiguration(machine_, flags == kQdcAllPaths);
    if (config.paths.size() > paths.size() || config.modes.size() > modes.size()) {
        return kErrorInsufficientBuffer;
    }
    paths = std::move(config.paths);
    modes = std::move(config.modes);
    SimAfterQuery(machine_);
    if (topologyId != nullptr) {
        *topologyId = CurrentTopologyId(machine_);
    }
    return kErrorSuccess;
}

Win32Error SimDisplayConfig::GetTargetName(nimbo::dcfg::LUID adapterId, std::uint32_t targetId,
                                           DisplayConfigTargetName& name) {
    const PortCall counted;
    if (machine_.faults.displayConfigGetDeviceInfo) {
        return *machine_.faults.displayConfigGetDeviceInfo;
    }
    for (const auto& adapter : machine_.adapters) {
        if (!SameLuid(adapter.luid, adapterId)) {
            continue;
        }
        for (const auto& output : adapter.outputs) {
            const SimMonitor* monitor = output.monitor ? &*output.monitor : nullptr;
            std::uint32_t technology = output.outputTechnology;
            if (output.targetId != targetId) {
                const auto clone =
                    std::find_if(output.clones.begin(), output.clones.end(),
                                 [&](const SimCloneTarget& c) { return c.targetId == targetId; });
                if (clone == output.clones.end()) {
                    continue;
                }
                monitor = &clone->monitor;
                technology = clone->outputTechnology;
            }
            if (SimTargetNameUnreadable(machine_, adapterId, targetId)) {
                return kErrorGenFailure;
            }
            name = DisplayConfigTargetName{};
            name.outputTechnology = technology;
            name.connectorInstance = 1;
            // A target without a monitor answers with empty names.
            if (monitor != nullptr) {
                const auto& edid = monitor->edid;
                if (edid && edid->size() >= 128) {
                    name.flags |= 0x4;  // edidIdsValid
                    name.edidManufactureId =
                        static_cast<std::uint16_t>((*edid)[8] << 8 | (*edid)[9]);
                    name.edidProductCodeId =
                        static_cast<std::uint16_t>((*edid)[10] | (*edid)[11] << 8);
                }
                name.monitorDevicePath = Fixed(monitor->interfacePath, 128);
            }
            return kErrorSuccess;
        }
    }
    return kErrorInvalidParameter;
}

Win32Error SimDisplayConfig::GetSourceName(nimbo::dcfg::LUID adapterId, std::uint32_t sourceId,
                                           DisplayConfigSourceName& name) {
    const PortCall counted;
    if (machine_.faults.displayConfigGetDeviceInfo) {
        return *machine_.faults.displayConfigGetDeviceInfo;
    }
    for (const auto& adapter : machine_.adapters) {
        if (SameLuid(adapter.luid, adapterId) && sourceId < adapter.outputs.size()) {
            name.viewGdiDeviceName = Fixed(adapter.outputs[sourceId].deviceName, 32);
            return kErrorSuccess;
        }
    }
    return kErrorInvalidParameter;
}

Win32Error SimDisplayConfig::SetDisplayConfig(std::span<const DISPLAYCONFIG_PATH_INFO> paths,
                                              std::span<const DISPLAYCONFIG_MODE_INFO> modes,
                                              std::uint32_t flags) {
    const PortCall counted;
    if (flags != kValidateFlags && flags != kApplyFlags && flags != (kApplyFlags | kSaveToDatabase))
        return kErrorInvalidParameter;  // other combinations are not simulated
    const auto& fault =
        flags == kValidateFlags ? machine_.desktop.faults.validate : machine_.desktop.faults.apply;
    if (fault)
        return *fault;
    // "The caller does not have access to the console session" while another
    // desktop has the input (SetDisplayConfig, learn.microsoft.com/en-us/
    // windows/win32/api/winuser/nf-winuser-setdisplayconfig). Validation
    // changes nothing and still answers.
    if (flags != kValidateFlags && machine_.desktop.sessionLocked)
        return kErrorAccessDenied;
    if (paths.empty())
        return kErrorInvalidParameter;

    std::vector<Placement> placements;
    for (const auto& path : paths) {
        if ((path.flags & nimbo::dcfg::kPathActiveFlag) == 0 ||
            (path.flags & nimbo::dcfg::kPathSupportVirtualModeFlag) != 0 ||
            !SameLuid(path.sourceInfo.adapterId, path.targetInfo.adapterId))
            return kErrorInvalidParameter;
        const SimTargetPlace where =
            FindSimTarget(machine_, path.targetInfo.adapterId, path.targetInfo.id);
        if (!where.found)
            return kErrorInvalidParameter;
        const SimOutput& output = machine_.adapters[where.adapter].outputs[where.output];
        // Each output has its own source here; a target is not moved to another.
        if (!output.monitor || path.sourceInfo.id != output.sourceId)
            return kErrorInvalidParameter;
        for (const auto& other : placements) {
            if (other.where.adapter == where.adapter && other.where.output == where.output)
                return kErrorInvalidParameter;  // one source (and target) in two paths
        }
        const auto sourceIndex = path.sourceInfo.modeInfoIdx;
        if (sourceIndex >= modes.size() ||
            modes[sourceIndex].infoType != nimbo::dcfg::kModeInfoTypeSource ||
            modes[sourceIndex].id != path.sourceInfo.id ||
            !SameLuid(modes[sourceIndex].adapterId, path.sourceInfo.adapterId))
            return kErrorInvalidParameter;
        const auto& source = modes[sourceIndex].sourceMode;
        SimMode mode{source.width, source.height, output.mode.refreshRate,
                     BitsOf(source.pixelFormat)};
        const auto targetIndex = path.targetInfo.modeInfoIdx;
        if (targetIndex != nimbo::dcfg::kInvalidModeIndex) {
            if (targetIndex >= modes.size() ||
                modes[targetIndex].infoType != nimbo::dcfg::kModeInfoTypeTarget ||
                modes[targetIndex].id != path.targetInfo.id ||
                !SameLuid(modes[targetIndex].adapterId, path.targetInfo.adapterId))
                return kErrorInvalidParameter;
            const auto& vsync = modes[targetIndex].targetMode.targetVideoSignalInfo.vSyncFreq;
            if (vsync.Denominator == 0)
                return kErrorInvalidParameter;
            mode.refreshRate = vsync.Numerator / vsync.Denominator;
        }
        const auto offered = [&](const SimMode& m) {
            return m.width == mode.width && m.height == mode.height &&
                   m.refreshRate == mode.refreshRate;
        };
        if (mode.bitsPerPixel == 0 ||
            (!offered(output.mode) &&
             std::none_of(output.modes.begin(), output.modes.end(), offered)))
            return kErrorInvalidParameter;
        placements.push_back({where, source.position.x, source.position.y, mode});
    }
    // One desktop: nothing overlaps, and the primary sits at the origin.
    bool origin = false;
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const auto& a = placements[i];
        origin = origin || (a.x == 0 && a.y == 0);
        for (std::size_t j = i + 1; j < placements.size(); ++j) {
            if (Overlap(a, placements[j]))
                return kErrorInvalidParameter;
        }
    }
    if (!origin)
        return kErrorInvalidParameter;
    if (flags == kValidateFlags)
        return kErrorSuccess;

    if (machine_.desktop.faults.applyIgnored)
        return kErrorSuccess;
    if (machine_.desktop.faults.rearrangeOnApply)
        CloseRemovedSpace(machine_, placements);

    for (auto& adapter : machine_.adapters) {
        for (auto& output : adapter.outputs)
            output.active = false;
    }
    for (const auto& placement : placements) {
        SimOutput& output =
            machine_.adapters[placement.where.adapter].outputs[placement.where.output];
        output.active = true;
        output.x = placement.x;
        output.y = placement.y;
        output.mode = placement.mode;
    }
    machine_.desktop.changed = true;
    // Only SDC_SAVE_TO_DATABASE stores the result in the database Windows
    // sets up at boot; without it the change lasts until the next restart
    // (https://learn.microsoft.com/en-us/windows/win32/api/winuser/nf-winuser-setdisplayconfig).
    if ((flags & kSaveToDatabase) != 0) {
        machine_.desktop.database = SimActiveLayout(machine_);
        machine_.desktop.databaseChanged = true;
    }
    return kErrorSuccess;
}

}  // namespace lenticor::sim
