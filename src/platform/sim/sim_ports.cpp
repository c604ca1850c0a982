#include "platform/sim/sim_ports.h"

#include "app/text.h"

#include <algorithm>

namespace lenticor::sim {
namespace {

using nimbo::dcfg::DISPLAYCONFIG_MODE_INFO;
using nimbo::dcfg::DISPLAYCONFIG_PATH_INFO;

// Windows copies texts into fixed WCHAR arrays and cuts what does not fit.
std::wstring Fixed(std::wstring_view text, std::size_t arraySize) {
    return std::wstring(text.substr(0, std::min(text.size(), arraySize - 1)));
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && ToLowerWide(a) == ToLowerWide(b);
}

struct Located {
    const SimAdapter* adapter = nullptr;
    const SimOutput* output = nullptr;
};

Located FindOutput(const SimMachine& machine, std::wstring_view deviceName) {
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            if (SameName(output.deviceName, deviceName)) {
                return {&adapter, &output};
            }
        }
    }
    return {};
}

bool SameLuid(nimbo::dcfg::LUID a, nimbo::dcfg::LUID b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

// ---- DXGI: outputs are the adapter's active outputs (those on the desktop).

class Output final : public DxgiOutput {
  public:
    explicit Output(const SimOutput& output) : output_(output) {}
    HResult GetDesc(DxgiOutputDesc& desc) override {
        if (output_.faults.getDesc) {
            return *output_.faults.getDesc;
        }
        desc.deviceName = Fixed(output_.deviceName, 32);
        desc.desktopCoordinates = {output_.x, output_.y,
                                   output_.x + static_cast<std::int32_t>(output_.mode.width),
                                   output_.y + static_cast<std::int32_t>(output_.mode.height)};
        desc.attachedToDesktop = true;
        desc.rotation = output_.orientation + 1;
        return kSOk;
    }

  private:
    const SimOutput& output_;
};

class Adapter final : public DxgiAdapter {
  public:
    explicit Adapter(const SimAdapter& adapter) : adapter_(adapter) {}
    HResult GetDesc1(DxgiAdapterDesc& desc) override {
        if (adapter_.faults.getDesc1) {
            return *adapter_.faults.getDesc1;
        }
        desc.description = Fixed(adapter_.description, 128);
        desc.vendorId = adapter_.vendorId;
        desc.deviceId = adapter_.deviceId;
        desc.adapterLuid = adapter_.luid;
        desc.flags = adapter_.flags;
        return kSOk;
    }
    HResult EnumOutputs(std::uint32_t ordinal, std::unique_ptr<DxgiOutput>& output) override {
        if (adapter_.faults.enumOutputs) {
            return *adapter_.faults.enumOutputs;
        }
        std::uint32_t seen = 0;
        for (const auto& candidate : adapter_.outputs) {
            if (candidate.active && seen++ == ordinal) {
                output = std::make_unique<Output>(candidate);
                return kSOk;
            }
        }
        return kDxgiErrorNotFound;
    }

  private:
    const SimAdapter& adapter_;
};

class Factory final : public DxgiFactory {
  public:
    explicit Factory(const SimMachine& machine) : machine_(machine) {}
    HResult EnumAdapters1(std::uint32_t ordinal, std::unique_ptr<DxgiAdapter>& adapter) override {
        if (ordinal >= machine_.adapters.size()) {
            return kDxgiErrorNotFound;
        }
        adapter = std::make_unique<Adapter>(machine_.adapters[ordinal]);
        return kSOk;
    }

  private:
    const SimMachine& machine_;
};

// ---- Registry: keys are case-insensitive; subkeys enumerate in
// case-insensitive name order, as Windows keeps them.

class Key final : public RegistryKey {
  public:
    Key(const SimMachine& machine, SimHive hive, std::wstring lowerPath)
        : machine_(machine), hive_(hive), lowerPath_(std::move(lowerPath)) {}

    Win32Error EnumKey(std::uint32_t index, std::wstring& name) override {
        const std::wstring prefix = lowerPath_ + L"\\";
        std::uint32_t seen = 0;
        for (const auto& [id, key] : machine_.registry) {
            if (id.first != hive_ || id.second.size() <= prefix.size() ||
                id.second.compare(0, prefix.size(), prefix) != 0 ||
                id.second.find(L'\\', prefix.size()) != std::wstring::npos) {
                continue;
            }
            if (seen++ == index) {
                const auto child = key.path.substr(key.path.rfind(L'\\') + 1);
                if (child.size() > 255) {
                    return kErrorMoreData;
                }
                name = child;
                return kErrorSuccess;
            }
        }
        return kErrorNoMoreItems;
    }

    Win32Error QueryValueInfo(std::wstring_view valueName, std::uint32_t& type,
                              std::uint32_t& size) override {
        const SimRegistryValue* value = nullptr;
        if (const auto status = Find(valueName, value); status != kErrorSuccess) {
            return status;
        }
        type = value->type;
        size = static_cast<std::uint32_t>(value->data.size());
        return kErrorSuccess;
    }

    Win32Error QueryValue(std::wstring_view valueName, std::size_t capacity, std::uint32_t& type,
                          std::vector<std::uint8_t>& data) override {
        const SimRegistryValue* value = nullptr;
        if (const auto status = Find(valueName, value); status != kErrorSuccess) {
            return status;
        }
        if (value->data.size() > capacity) {
            return kErrorMoreData;
        }
        type = value->type;
        data = value->data;
        return kErrorSuccess;
    }

  private:
    Win32Error Find(std::wstring_view valueName, const SimRegistryValue*& value) const {
        const auto key = machine_.registry.find({hive_, lowerPath_});
        if (key == machine_.registry.end()) {
            return kErrorFileNotFound;  // deleted since it was opened
        }
        const auto found = key->second.values.find(ToLowerWide(valueName));
        if (found == key->second.values.end()) {
            return kErrorFileNotFound;
        }
        value = &found->second;
        return kErrorSuccess;
    }

    const SimMachine& machine_;
    SimHive hive_;
    std::wstring lowerPath_;
};

// ---- Display configuration: one path per output with its own source, the
// active ones first, each active path with a source and a target mode. Windows
// also offers inactive source-target combinations under QDC_ALL_PATHS; the
// simulation lists one inactive path per output that is not on the desktop.

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

HResult SimDxgi::CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) {
    if (machine_.faults.createDxgiFactory1) {
        return *machine_.faults.createDxgiFactory1;
    }
    factory = std::make_unique<Factory>(machine_);
    return kSOk;
}

std::optional<DisplayDevice> SimDisplayDevices::EnumDisplayDevices(
    std::optional<std::wstring_view> device, std::uint32_t index, std::uint32_t flags) {
    if (!device) {
        std::uint32_t seen = 0;
        for (const auto& adapter : machine_.adapters) {
            for (const auto& output : adapter.outputs) {
                if (seen++ != index) {
                    continue;
                }
                std::uint32_t state = output.active ? kDisplayDeviceActive : 0;
                if (output.active && output.x == 0 && output.y == 0) {
                    state |= kDisplayDevicePrimaryDevice;
                }
                return DisplayDevice{
                    Fixed(output.deviceName, 32), Fixed(adapter.deviceString, 128), state,
                    Fixed(adapter.pnpId, 128),
                    Fixed(L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Video\\"
                          L"{5c6bbbbe-0000-0000-0000-000000000000}\\" +
                              std::to_wstring(output.sourceId),
                          128)};
            }
        }
        return std::nullopt;
    }
    // A source lists every monitor it drives, by index until the call fails
    // (https://learn.microsoft.com/en-us/windows/win32/api/winuser/nf-winuser-enumdisplaydevicesw,
    // Remarks): its own first, then those it duplicates to.
    const auto found = FindOutput(machine_, *device);
    if (found.output == nullptr || !found.output->monitor || index > found.output->clones.size()) {
        return std::nullopt;
    }
    const auto& monitor =
        index == 0 ? *found.output->monitor : found.output->clones[index - 1].monitor;
    const auto hardwareTail = monitor.hardwareId.find(L'\\', 8);
    const std::wstring driverKey = hardwareTail == std::wstring::npos
                                       ? std::wstring()
                                       : monitor.hardwareId.substr(hardwareTail + 1);
    return DisplayDevice{
        Fixed(found.output->deviceName + L"\\Monitor" + std::to_wstring(index), 32),
        Fixed(monitor.deviceString, 128),
        found.output->active ? kDisplayDeviceActive | kDisplayDeviceAttached
                             : kDisplayDeviceAttached,
        Fixed(
            (flags & kEddGetDeviceInterfaceName) != 0 ? monitor.interfacePath : monitor.hardwareId,
            128),
        Fixed(L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\" + driverKey,
              128)};
}

std::optional<DisplaySettings> SimDisplayDevices::EnumDisplaySettings(std::wstring_view deviceName,
                                                                      std::uint32_t modeNumber) {
    const auto found = FindOutput(machine_, deviceName);
    if (found.output == nullptr || found.output->faults.enumDisplaySettings) {
        return std::nullopt;
    }
    const auto& output = *found.output;
    constexpr std::uint32_t kModeFields = 0x40000 | 0x80000 | 0x100000 | 0x400000;
    constexpr std::uint32_t kPositionFields = 0x20 | 0x80;  // DM_POSITION | DM_DISPLAYORIENTATION
    DisplaySettings settings;
    SimMode mode;
    // ENUM_CURRENT_SETTINGS and ENUM_REGISTRY_SETTINGS; a source off the
    // desktop has no current mode in the simulation.
    if (modeNumber >= 0xFFFFFFFEu) {
        if (!output.active) {
            return std::nullopt;
        }
        mode = output.mode;
        settings.fields = kModeFields | kPositionFields;
        settings.positionX = output.x;
        settings.positionY = output.y;
        settings.displayOrientation = output.orientation;
    } else {
        if (modeNumber >= output.modes.size()) {
            return std::nullopt;
        }
        mode = output.modes[modeNumber];
        settings.fields = kModeFields;
    }
    settings.bitsPerPel = mode.bitsPerPixel;
    settings.pelsWidth = mode.width;
    settings.pelsHeight = mode.height;
    settings.displayFrequency = mode.refreshRate;
    return settings;
}

Win32Error SimRegistry::OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t,
                                std::unique_ptr<RegistryKey>& key) {
    const auto simHive =
        hive == RegistryHive::LocalMachine ? SimHive::LocalMachine : SimHive::CurrentUser;
    auto lower = ToLowerWide(subKey);
    if (machine_.registry.find({simHive, lower}) == machine_.registry.end()) {
        return kErrorFileNotFound;
    }
    key = std::make_unique<Key>(machine_, simHive, std::move(lower));
    return kErrorSuccess;
}

Win32Error SimDisplayConfig::GetDisplayConfigBufferSizes(std::uint32_t flags,
                                                         std::uint32_t& pathCount,
                                                         std::uint32_t& modeCount) {
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
    return SimSetDisplayConfig(machine_, paths, modes, flags);
}

}  // namespace lenticor::sim
