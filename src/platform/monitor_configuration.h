#pragma once
// Port: the monitor configuration API of dxva2 (DDC/CI): physical monitors of
// an HMONITOR, the MCCS capabilities string and VCP features. Every call
// reports whether it succeeded and, when it did not, the GetLastError value
// read right after it.

#include "platform/monitors.h"

#include <compare>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace lenticor {

// A HANDLE of one physical monitor; only meaningful until it is destroyed.
struct PhysicalMonitorHandle {
    std::uintptr_t value = 0;
    friend auto operator<=>(const PhysicalMonitorHandle&, const PhysicalMonitorHandle&) = default;
};

static_assert(!std::is_convertible_v<MonitorHandle, PhysicalMonitorHandle> &&
              !std::is_convertible_v<PhysicalMonitorHandle, MonitorHandle>);

// PHYSICAL_MONITOR.
struct PhysicalMonitor {
    PhysicalMonitorHandle handle;
    std::wstring description;  // szPhysicalMonitorDescription, at most 127 code units
};

// A call's outcome: `error` is GetLastError() when `ok` is false.
struct DdcCall {
    bool ok = false;
    Win32Error error = kErrorSuccess;
};

class MonitorConfiguration {
  public:
    virtual ~MonitorConfiguration() = default;

    // GetNumberOfPhysicalMonitorsFromHMONITOR.
    [[nodiscard]] virtual DdcCall GetNumberOfPhysicalMonitors(MonitorHandle monitor,
                                                              std::uint32_t& count) = 0;

    // GetPhysicalMonitorsFromHMONITOR(monitor, monitors.size(), monitors.data()).
    [[nodiscard]] virtual DdcCall GetPhysicalMonitors(MonitorHandle monitor,
                                                      std::span<PhysicalMonitor> monitors) = 0;

    // DestroyPhysicalMonitors over exactly the records the system filled.
    virtual DdcCall DestroyPhysicalMonitors(std::span<const PhysicalMonitor> monitors) = 0;

    // GetCapabilitiesStringLength.
    [[nodiscard]] virtual DdcCall GetCapabilitiesStringLength(PhysicalMonitorHandle monitor,
                                                              std::uint32_t& length) = 0;

    // CapabilitiesRequestAndCapabilitiesReply(monitor, buffer, buffer.size()).
    [[nodiscard]] virtual DdcCall CapabilitiesRequestAndCapabilitiesReply(
        PhysicalMonitorHandle monitor, std::span<char> buffer) = 0;

    // GetVCPFeatureAndVCPFeatureReply(monitor, code, &type, &current, &maximum).
    [[nodiscard]] virtual DdcCall GetVCPFeatureAndVCPFeatureReply(PhysicalMonitorHandle monitor,
                                                                  std::uint8_t code,
                                                                  std::uint32_t& type,
                                                                  std::uint32_t& current,
                                                                  std::uint32_t& maximum) = 0;

    // SetVCPFeature(monitor, code, value).
    [[nodiscard]] virtual DdcCall SetVCPFeature(PhysicalMonitorHandle monitor, std::uint8_t code,
                                                std::uint32_t value) = 0;
};

}  // namespace lenticor
