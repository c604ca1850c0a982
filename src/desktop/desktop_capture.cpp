#include "desktop/desktop_capture.h"

#include <array>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "app/device_properties.h"
#include "app/monitor_identity.h"
#include "app/sized_query.h"
#include "app/text.h"
#include "desktop/snapshot_codec.h"
#include "platform/config_manager.h"
#include "platform/display_config.h"
#include "platform/display_devices.h"
#include "platform/monitors.h"

namespace nimbo {
namespace {

using lenticor::Win32Error;

constexpr int kCaptureAttempts = 2;

// Where the sizing and the query disagree, the desktop changed in between; a
// desktop that keeps changing is reported rather than read half-way.
void QueryBounded(lenticor::DisplayConfig& displayConfig, DesktopSnapshot& snapshot) {
    const Win32Error queried = *lenticor::QueryDisplayConfigSized(
        displayConfig, lenticor::kQdcAllPaths, snapshot.paths, snapshot.modes, nullptr,
        [](Win32Error sized, std::uint32_t pathCount, std::uint32_t modeCount) {
            if (sized != lenticor::kErrorSuccess || pathCount > kMaxCapturePaths ||
                modeCount > kMaxCaptureModes)
                throw std::runtime_error("could not size bounded desktop configuration");
            return true;
        },
        kCaptureAttempts);
    if (queried == lenticor::kErrorInsufficientBuffer)
        throw std::runtime_error("desktop changed during bounded enumeration");
    if (queried != lenticor::kErrorSuccess)
        throw std::runtime_error("QueryDisplayConfig failed: " + std::to_string(queried));
}

std::optional<std::wstring> InterfaceInstanceId(lenticor::ConfigManager& configManager,
                                                const std::wstring& interfacePath) {
    return lenticor::ReadInterfaceStringProperty(configManager, interfacePath,
                                                 lenticor::DeviceProperty::InstanceId);
}

std::optional<std::wstring> DriverKeyOf(lenticor::ConfigManager& configManager,
                                        const std::wstring& instanceId) {
    lenticor::DevInst devInst = 0;
    if (configManager.LocateDevNode(devInst, instanceId, lenticor::kCmLocateDevNodeNormal) !=
        lenticor::kCrSuccess)
        return std::nullopt;
    return lenticor::ReadDevNodeStringProperty(configManager, devInst,
                                               lenticor::DeviceProperty::Driver);
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

DesktopTopology CaptureDesktopTopology(lenticor::DisplayConfig& displayConfig) {
    DesktopSnapshot snapshot;
    QueryBounded(displayConfig, snapshot);
    snapshot.names.reserve(snapshot.paths.size());
    for (const auto& path : snapshot.paths) {
        lenticor::DisplayConfigTargetName name;
        const Win32Error result =
            displayConfig.GetTargetName(path.targetInfo.adapterId, path.targetInfo.id, name);
        if (result != lenticor::kErrorSuccess) {
            if ((path.flags & dcfg::kPathActiveFlag) != 0)
                throw std::runtime_error("active desktop target identity unavailable");
            name.monitorDevicePath.clear();
        }
        snapshot.names.push_back(name.monitorDevicePath);
    }
    return BuildDesktopTopology(snapshot);
}

std::vector<DesktopTarget> EnumerateNimboTargets(lenticor::Monitors& monitors,
                                                 lenticor::DisplayDevices& displayDevices,
                                                 const DesktopTopology& topology) {
    std::vector<DesktopTarget> targets;
    const bool enumerated = monitors.EnumDisplayMonitors([&](lenticor::MonitorHandle monitor) {
        lenticor::MonitorInfo info;
        if (!monitors.QueryMonitorInfo(monitor, info))
            return false;
        for (std::uint32_t index = 0;; ++index) {
            const auto device = displayDevices.EnumDisplayDevices(info.device, index, 0);
            if (!device)
                break;
            if ((device->stateFlags & lenticor::kDisplayDeviceActive) == 0 ||
                !IsNimboModelId(ModelIdFromHardwareId(device->deviceId)))
                continue;
            const auto named = displayDevices.EnumDisplayDevices(
                info.device, index, lenticor::kEddGetDeviceInterfaceName);
            if (!named || named->deviceId.empty())
                return false;
            const std::string prefix =
                lenticor::WideToUtf8(lenticor::ToLowerWide(named->deviceId)) + "|";
            for (const auto& entry : topology.targets) {
                if (entry.active && entry.available && entry.key.starts_with(prefix))
                    targets.push_back({device->deviceId, entry.key});
            }
        }
        return true;
    });
    if (!enumerated)
        throw std::runtime_error("active Nimbo desktop enumeration failed");
    return targets;
}

std::string TargetKeyForDisplayId(lenticor::DisplayConfig& displayConfig,
                                  lenticor::Monitors& monitors,
                                  lenticor::DisplayDevices& displayDevices,
                                  const std::wstring& displayId) {
    const DesktopTopology topology = CaptureDesktopTopology(displayConfig);
    const std::wstring wanted = lenticor::ToLowerWide(displayId);
    std::string found;
    int matches = 0;
    for (const auto& target : EnumerateNimboTargets(monitors, displayDevices, topology)) {
        if (lenticor::ToLowerWide(target.displayId) == wanted) {
            ++matches;
            found = target.targetKey;
        }
    }
    return matches == 1 ? found : std::string();
}

bool VerifyTargetIdentity(lenticor::ConfigManager& configManager, const std::wstring& displayId,
                          const std::string& key) {
    const auto bar = key.find('|');
    if (bar == std::string::npos)
        return false;
    const auto interfacePath = lenticor::Utf8ToWideStrict(std::string_view(key).substr(0, bar));
    if (!interfacePath)
        return false;
    const auto instanceId = InterfaceInstanceId(configManager, *interfacePath);
    if (!instanceId)
        return false;
    const auto driverKey = DriverKeyOf(configManager, *instanceId);
    if (!driverKey)
        return false;

    const std::wstring model = lenticor::ToLowerWide(ModelIdFromHardwareId(displayId));
    if (!IsNimboModelId(model) || driverKey->empty())
        return false;
    const std::wstring instance = lenticor::ToLowerWide(*instanceId);
    if (!StartsWith(instance, L"display\\" + model + L"\\"))
        return false;
    const std::wstring path = lenticor::ToLowerWide(*interfacePath);
    constexpr std::wstring_view kInterfacePrefix = L"\\\\?\\";
    if (!StartsWith(path, kInterfacePrefix))
        return false;
    const auto classStart = path.find(L"#{", kInterfacePrefix.size());
    if (classStart == std::wstring::npos)
        return false;
    std::wstring device =
        path.substr(kInterfacePrefix.size(), classStart - kInterfacePrefix.size());
    for (auto& c : device) {
        if (c == L'#')
            c = L'\\';
    }
    return device == instance &&
           lenticor::ToLowerWide(displayId) ==
               L"monitor\\" + model + L"\\" + lenticor::ToLowerWide(*driverKey);
}

bool ApplyDesktopTopology(lenticor::DisplayConfig& displayConfig, std::ostream& err,
                          const DesktopTopology& topology, bool validateOnly) {
    const DesktopSnapshot snapshot = DecodeTopologySnapshot(topology);
    if (snapshot.paths.empty())
        return false;
    const Win32Error result = displayConfig.SetDisplayConfig(
        snapshot.paths, snapshot.modes,
        validateOnly ? kSetDisplayConfigValidate : kSetDisplayConfigApply);
    if (result != lenticor::kErrorSuccess) {
        err << "[NimboDesktop] SetDisplayConfig failed: " << result << std::endl;
        return false;
    }
    return true;
}

}  // namespace nimbo
