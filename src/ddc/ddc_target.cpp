#include "ddc/ddc_target.h"

#include "app/device_properties.h"
#include "app/monitor_identity.h"
#include "app/text.h"
#include "platform/config_manager.h"
#include "platform/console.h"
#include "platform/display_devices.h"

#include <array>
#include <ostream>

namespace nimbo {
namespace {

using lenticor::ToLowerWide;

constexpr std::size_t kMaxTokenIdUnits = 512;
constexpr std::size_t kMaxTokenLength = 2048;
constexpr std::uint32_t kMaxCapabilitiesLength = 65536;

std::string HexOfLowerUtf8(std::wstring_view text) {
    const auto utf8 = lenticor::WideToUtf8(ToLowerWide(text));
    return lenticor::ToLowerHex(utf8.data(), utf8.size());
}

// The monitor devices under the display monitor's adapter, each with its
// index, as EnumDisplayDevicesW lists them until it fails.
template <class Visit>
void ForEachMonitorDevice(lenticor::DisplayDevices& devices, const std::wstring& adapter,
                          std::uint32_t flags, Visit visit) {
    for (std::uint32_t index = 0;; ++index) {
        const auto device = devices.EnumDisplayDevices(adapter, index, flags);
        if (!device) {
            return;
        }
        visit(index, *device);
    }
}

bool IsActive(const lenticor::DisplayDevice& device) {
    return (device.stateFlags & lenticor::kDisplayDeviceActive) != 0;
}

// The instance id behind a monitor's interface path: a non-empty string
// property.
std::optional<std::wstring> InstanceIdOfInterface(lenticor::ConfigManager& manager,
                                                  const std::wstring& interfacePath) {
    auto text = lenticor::ReadInterfaceStringProperty(manager, interfacePath,
                                                      lenticor::DeviceProperty::InstanceId);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::uint64_t> LastArrival(lenticor::ConfigManager& manager,
                                         const std::wstring& instanceId) {
    lenticor::DevInst node = 0;
    if (manager.LocateDevNode(node, instanceId, lenticor::kCmLocateDevNodeNormal) !=
        lenticor::kCrSuccess) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 8> buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = buffer.size();
    if (manager.GetDevNodeProperty(node, lenticor::DeviceProperty::LastArrivalDate, type, buffer,
                                   size) != lenticor::kCrSuccess ||
        type != lenticor::kDevPropTypeFileTime || size != buffer.size()) {
        return std::nullopt;
    }
    std::uint64_t arrival = 0;
    for (std::size_t i = buffer.size(); i-- > 0;) {
        arrival = arrival << 8 | buffer[i];
    }
    return arrival;
}

}  // namespace

OwnedPhysicalMonitors::OwnedPhysicalMonitors(OwnedPhysicalMonitors&& other) noexcept
    : api_(other.api_), monitors_(std::move(other.monitors_)), owned_(other.owned_) {
    other.monitors_.clear();
    other.owned_ = false;
}

OwnedPhysicalMonitors& OwnedPhysicalMonitors::operator=(OwnedPhysicalMonitors&& other) noexcept {
    if (this != &other) {
        Release();
        api_ = other.api_;
        monitors_ = std::move(other.monitors_);
        owned_ = other.owned_;
        other.monitors_.clear();
        other.owned_ = false;
    }
    return *this;
}

void OwnedPhysicalMonitors::Release() {
    if (owned_ && api_ != nullptr) {
        static_cast<void>(api_->DestroyPhysicalMonitors(monitors_));
    }
    owned_ = false;
    monitors_.clear();
}

std::vector<NimboDdcCandidate> EnumerateDdcMonitors(lenticor::Monitors& monitors,
                                                    lenticor::DisplayDevices& devices,
                                                    lenticor::Console& console) {
    std::vector<NimboDdcCandidate> candidates;
    const bool enumerated = monitors.EnumDisplayMonitors([&](lenticor::MonitorHandle monitor) {
        lenticor::MonitorInfo info;
        if (!monitors.QueryMonitorInfo(monitor, info)) {
            return true;  // one bad monitor never stops the walk
        }
        ForEachMonitorDevice(
            devices, info.device, 0, [&](std::uint32_t, const lenticor::DisplayDevice& device) {
                if (IsActive(device) && !device.deviceId.empty()) {
                    candidates.push_back(
                        {device.deviceId, ModelIdFromHardwareId(device.deviceId), monitor});
                }
            });
        return true;
    });
    if (!enumerated) {
        console.Err() << "[NimboDdc] monitor enumeration failed, error="
                      << monitors.EnumerationError() << std::endl;
    }
    return candidates;
}

NimboDdcResolution ResolveNimboDdcTarget(lenticor::Monitors& monitors,
                                         lenticor::DisplayDevices& devices,
                                         lenticor::Console& console,
                                         const std::wstring& displayId) {
    std::vector<NimboDdcCandidate> nimbos;
    for (auto& candidate : EnumerateDdcMonitors(monitors, devices, console)) {
        if (IsNimboModelId(candidate.modelId)) {
            nimbos.push_back(std::move(candidate));
        }
    }
    NimboDdcResolution resolution;
    resolution.explicitDisplayId = !displayId.empty();
    if (resolution.explicitDisplayId) {
        const auto wanted = ToLowerWide(displayId);
        for (const auto& candidate : nimbos) {
            if (ToLowerWide(candidate.deviceId) == wanted) {
                resolution.candidate = candidate;
                return resolution;
            }
        }
        resolution.errorCode = "DISPLAY_ID_NOT_FOUND";
        resolution.errorMessage = "display ID is not an active KZV1A07/KZV2B09 Nimbo monitor";
        return resolution;
    }
    if (nimbos.empty()) {
        resolution.errorCode = "NO_NIMBO_DISPLAY";
        resolution.errorMessage = "no active KZV1A07/KZV2B09 Nimbo monitor found";
    } else if (nimbos.size() > 1) {
        resolution.errorCode = "AMBIGUOUS_NIMBO_DISPLAY";
        resolution.errorMessage = "multiple Nimbo monitors found; pass --display-id";
    } else {
        resolution.candidate = nimbos.front();
    }
    return resolution;
}

bool IsDdcCandidateCurrent(lenticor::Monitors& monitors, lenticor::DisplayDevices& devices,
                           lenticor::Console& console, const NimboDdcCandidate& candidate) {
    if (!IsNimboModelId(candidate.modelId)) {
        return false;
    }
    const auto wanted = ToLowerWide(candidate.deviceId);
    std::size_t matches = 0;
    bool same = false;
    for (const auto& entry : EnumerateDdcMonitors(monitors, devices, console)) {
        if (ToLowerWide(entry.deviceId) != wanted) {
            continue;
        }
        ++matches;
        same = entry.monitor == candidate.monitor && IsNimboModelId(entry.modelId);
    }
    return matches == 1 && same;
}

std::optional<std::string> FormatCapabilityToken(std::string_view prefix,
                                                 std::wstring_view deviceId,
                                                 std::wstring_view instanceId,
                                                 std::uint64_t arrival) {
    if (deviceId.empty() || instanceId.empty() || deviceId.size() > kMaxTokenIdUnits ||
        instanceId.size() > kMaxTokenIdUnits || arrival == 0) {
        return std::nullopt;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string arrivalHex(16, '0');
    for (std::size_t i = 0; i < 16; ++i) {
        arrivalHex[15 - i] = kDigits[(arrival >> (4 * i)) & 0xF];
    }
    auto token = std::string(prefix);
    token.append(":").append(HexOfLowerUtf8(deviceId));
    token.append(":").append(HexOfLowerUtf8(instanceId));
    token.append(":").append(arrivalHex);
    if (token.size() > kMaxTokenLength) {
        return std::nullopt;
    }
    return token;
}

std::optional<std::string> BuildCapabilityToken(lenticor::Monitors& monitors,
                                                lenticor::DisplayDevices& devices,
                                                lenticor::ConfigManager& manager,
                                                const NimboDdcCandidate& candidate,
                                                std::string_view prefix) {
    if (!IsNimboModelId(candidate.modelId)) {
        return std::nullopt;
    }
    lenticor::MonitorInfo info;
    if (!monitors.QueryMonitorInfo(candidate.monitor, info)) {
        return std::nullopt;
    }
    const auto wanted = ToLowerWide(candidate.deviceId);
    std::size_t matches = 0;
    std::wstring interfacePath;
    bool broken = false;
    ForEachMonitorDevice(
        devices, info.device, 0, [&](std::uint32_t index, const lenticor::DisplayDevice& device) {
            if (broken || !IsActive(device) || ToLowerWide(device.deviceId) != wanted) {
                return;
            }
            ++matches;
            // The same index asked for its interface path must still be the
            // same active device, or the two answers describe different monitors.
            const auto named = devices.EnumDisplayDevices(info.device, index,
                                                          lenticor::kEddGetDeviceInterfaceName);
            if (!named || !IsActive(*named) || named->deviceId.empty() ||
                ToLowerWide(named->deviceName) != ToLowerWide(device.deviceName)) {
                broken = true;
                return;
            }
            interfacePath = named->deviceId;
        });
    if (broken || matches != 1 || interfacePath.empty()) {
        return std::nullopt;
    }
    const auto instanceId = InstanceIdOfInterface(manager, interfacePath);
    if (!instanceId) {
        return std::nullopt;
    }
    const auto arrival = LastArrival(manager, *instanceId);
    if (!arrival) {
        return std::nullopt;
    }
    return FormatCapabilityToken(prefix, candidate.deviceId, *instanceId, *arrival);
}

OwnedPhysicalMonitors AcquireSinglePhysicalMonitor(lenticor::MonitorConfiguration& api,
                                                   lenticor::Console& console,
                                                   lenticor::MonitorHandle monitor,
                                                   std::string_view tag, const CancelPoll& cancel) {
    auto& err = console.Err();
    if (Cancelled(cancel)) {
        return {};
    }
    std::uint32_t count = 0;
    if (const auto call = api.GetNumberOfPhysicalMonitors(monitor, count); !call.ok) {
        err << tag << " physical monitor count failed, error=" << call.error << std::endl;
        return {};
    }
    // Two physical monitors behind one handle are refused, not guessed at.
    if (count != 1) {
        err << tag << " expected one physical monitor, found " << count << std::endl;
        return {};
    }
    if (Cancelled(cancel)) {
        return {};
    }
    std::vector<lenticor::PhysicalMonitor> monitors(1);
    if (const auto call = api.GetPhysicalMonitors(monitor, monitors); !call.ok) {
        err << tag << " physical monitor acquisition failed, error=" << call.error << std::endl;
        return {};
    }
    return OwnedPhysicalMonitors(api, std::move(monitors));
}

std::optional<std::string> ReadCapabilitiesString(lenticor::MonitorConfiguration& api,
                                                  lenticor::Console& console,
                                                  lenticor::PhysicalMonitorHandle monitor,
                                                  const CancelPoll& cancel) {
    auto& err = console.Err();
    if (Cancelled(cancel)) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    if (const auto call = api.GetCapabilitiesStringLength(monitor, length); !call.ok) {
        err << "[NimboPower] capabilities length unavailable, error=" << call.error << std::endl;
        return std::nullopt;
    }
    if (length < 1 || length > kMaxCapabilitiesLength) {
        err << "[NimboPower] capabilities length out of range, length=" << length << std::endl;
        return std::nullopt;
    }
    if (Cancelled(cancel)) {
        return std::nullopt;
    }
    // One byte more than asked for, so the text always ends with a NUL.
    std::string buffer(std::size_t{length} + 1, '\0');
    if (const auto call = api.CapabilitiesRequestAndCapabilitiesReply(
            monitor, std::span<char>(buffer.data(), length));
        !call.ok) {
        err << "[NimboPower] capabilities request failed, error=" << call.error << std::endl;
        return std::nullopt;
    }
    buffer.resize(buffer.find('\0'));
    return buffer;
}

}  // namespace nimbo
