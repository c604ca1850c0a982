#pragma once
// The one Nimbo monitor a DDC/CI command may talk to: resolution by display id
// or uniqueness, a cheap re-check that a candidate is still that monitor, the
// version-1 capability token naming one plug-in instance, the single physical
// monitor behind an HMONITOR and the bounded capabilities read. Shared by the
// power and brightness commands. Nothing here throws on a system failure:
// failures are empty results, some with one line on standard error.

#include "platform/monitor_configuration.h"
#include "platform/monitors.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor {
class ConfigManager;
class Console;
class DisplayDevices;
}  // namespace lenticor

namespace nimbo {

// One active monitor device that can be driven over DDC/CI.
struct NimboDdcCandidate {
    std::wstring deviceId;  // hardware id as display-device enumeration reports it
    std::wstring modelId;   // ModelIdFromHardwareId(deviceId), case kept
    lenticor::MonitorHandle monitor;
};

struct NimboDdcResolution {
    std::optional<NimboDdcCandidate> candidate;
    bool explicitDisplayId = false;
    std::string errorCode;  // DISPLAY_ID_NOT_FOUND, NO_NIMBO_DISPLAY, AMBIGUOUS_NIMBO_DISPLAY
    std::string errorMessage;
};

// Answers true once the host asked to cancel; may be empty (never cancels).
using CancelPoll = std::function<bool()>;

// True once `cancel` answers true; an empty poll never cancels.
[[nodiscard]] inline bool Cancelled(const CancelPoll& cancel) {
    return cancel && cancel();
}

// The physical monitors of one HMONITOR. DestroyPhysicalMonitors is called
// exactly when the system filled the records, once, when the owner goes away
// (also during stack unwinding).
class OwnedPhysicalMonitors {
  public:
    OwnedPhysicalMonitors() = default;
    OwnedPhysicalMonitors(lenticor::MonitorConfiguration& api,
                          std::vector<lenticor::PhysicalMonitor> monitors)
        : api_(&api), monitors_(std::move(monitors)), owned_(true) {}
    OwnedPhysicalMonitors(const OwnedPhysicalMonitors&) = delete;
    OwnedPhysicalMonitors& operator=(const OwnedPhysicalMonitors&) = delete;
    OwnedPhysicalMonitors(OwnedPhysicalMonitors&& other) noexcept;
    OwnedPhysicalMonitors& operator=(OwnedPhysicalMonitors&& other) noexcept;
    ~OwnedPhysicalMonitors() { Release(); }

    [[nodiscard]] bool owned() const { return owned_; }
    [[nodiscard]] const std::vector<lenticor::PhysicalMonitor>& monitors() const {
        return monitors_;
    }
    // The first monitor's handle; 0 when nothing is owned.
    [[nodiscard]] lenticor::PhysicalMonitorHandle handle() const {
        return owned_ && !monitors_.empty() ? monitors_.front().handle
                                            : lenticor::PhysicalMonitorHandle{};
    }
    void Release();

  private:
    lenticor::MonitorConfiguration* api_ = nullptr;
    std::vector<lenticor::PhysicalMonitor> monitors_;
    bool owned_ = false;
};

// Every active monitor device of every display monitor, Nimbo or not, in
// enumeration order. A failing EnumDisplayMonitors is one stderr line
// ("[NimboDdc] monitor enumeration failed, error=N") and keeps what was found.
[[nodiscard]] std::vector<NimboDdcCandidate> EnumerateDdcMonitors(lenticor::Monitors& monitors,
                                                                  lenticor::DisplayDevices& devices,
                                                                  lenticor::Console& console);

// The Nimbo monitor named by `displayId` (any letter case), or the only one.
[[nodiscard]] NimboDdcResolution ResolveNimboDdcTarget(lenticor::Monitors& monitors,
                                                       lenticor::DisplayDevices& devices,
                                                       lenticor::Console& console,
                                                       const std::wstring& displayId);

// The candidate's device id is listed exactly once, still on the same monitor
// handle, and still a Nimbo.
[[nodiscard]] bool IsDdcCandidateCurrent(lenticor::Monitors& monitors,
                                         lenticor::DisplayDevices& devices,
                                         lenticor::Console& console,
                                         const NimboDdcCandidate& candidate);

// The version-1 token of the candidate's plug-in instance ("p1" or "b1"
// prefix); empty on any failure.
[[nodiscard]] std::optional<std::string> BuildCapabilityToken(lenticor::Monitors& monitors,
                                                              lenticor::DisplayDevices& devices,
                                                              lenticor::ConfigManager& manager,
                                                              const NimboDdcCandidate& candidate,
                                                              std::string_view prefix);

// prefix:hex(lower(deviceId)):hex(lower(instanceId)):arrival as 16 hex digits.
//   ("b1", L"A", L"b", 255) -> "b1:61:62:00000000000000ff"
// Empty when an id is empty or longer than 512 wide characters, the arrival is
// 0, or the token would exceed 2048 characters.
[[nodiscard]] std::optional<std::string> FormatCapabilityToken(std::string_view prefix,
                                                               std::wstring_view deviceId,
                                                               std::wstring_view instanceId,
                                                               std::uint64_t arrival);

// Exactly one physical monitor of `monitor`, owned; otherwise an empty, unowned
// set and (except on cancel) one stderr line starting with `tag`.
[[nodiscard]] OwnedPhysicalMonitors AcquireSinglePhysicalMonitor(
    lenticor::MonitorConfiguration& api, lenticor::Console& console,
    lenticor::MonitorHandle monitor, std::string_view tag, const CancelPoll& cancel);

// The MCCS capabilities string (1 to 65536 bytes, up to its first NUL); empty
// on cancel or failure, with a "[NimboPower] ..." line on failure.
[[nodiscard]] std::optional<std::string> ReadCapabilitiesString(
    lenticor::MonitorConfiguration& api, lenticor::Console& console,
    lenticor::PhysicalMonitorHandle monitor, const CancelPoll& cancel);

}  // namespace nimbo
