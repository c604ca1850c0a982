#include "dxva2_monitor_api.h"

#include "fixed_text.h"
#include "win32_ports.h"

#include <vector>

namespace lenticor::win32 {
namespace {

// Read at once: any later call (even a destructor) may overwrite it.
DdcCall Outcome(BOOL succeeded) {
    if (succeeded) {
        return {true, 0};
    }
    return {false, static_cast<std::uint32_t>(::GetLastError())};
}

HANDLE NativeHandle(PhysicalMonitorHandle monitor) {
    return reinterpret_cast<HANDLE>(monitor.value);
}

// The real Windows monitor configuration: dxva2's physical-monitor and DDC/CI
// functions. Each member is the Windows call its port names, nothing more.
class Win32MonitorConfiguration final : public MonitorConfiguration {
  public:
    DdcCall GetNumberOfPhysicalMonitors(MonitorHandle monitor, std::uint32_t& count) override {
        DWORD native = 0;
        const auto outcome = Outcome(::GetNumberOfPhysicalMonitorsFromHMONITOR(
            reinterpret_cast<HMONITOR>(monitor.value), &native));
        count = native;
        return outcome;
    }

    DdcCall GetPhysicalMonitors(MonitorHandle monitor,
                                std::span<PhysicalMonitor> monitors) override {
        std::vector<PHYSICAL_MONITOR> native(monitors.size());
        const auto outcome = Outcome(
            ::GetPhysicalMonitorsFromHMONITOR(reinterpret_cast<HMONITOR>(monitor.value),
                                              static_cast<DWORD>(native.size()), native.data()));
        if (!outcome.ok) {
            return outcome;
        }
        for (std::size_t i = 0; i < native.size(); ++i) {
            monitors[i].handle = {reinterpret_cast<std::uintptr_t>(native[i].hPhysicalMonitor)};
            monitors[i].description = FromFixed(native[i].szPhysicalMonitorDescription);
        }
        return outcome;
    }

    DdcCall DestroyPhysicalMonitors(std::span<const PhysicalMonitor> monitors) override {
        std::vector<PHYSICAL_MONITOR> native(monitors.size());
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            native[i].hPhysicalMonitor = NativeHandle(monitors[i].handle);
        }
        return Outcome(::DestroyPhysicalMonitors(static_cast<DWORD>(native.size()), native.data()));
    }

    DdcCall GetCapabilitiesStringLength(PhysicalMonitorHandle monitor,
                                        std::uint32_t& length) override {
        DWORD native = 0;
        const auto outcome = Outcome(::GetCapabilitiesStringLength(NativeHandle(monitor), &native));
        length = native;
        return outcome;
    }

    DdcCall CapabilitiesRequestAndCapabilitiesReply(PhysicalMonitorHandle monitor,
                                                    std::span<char> buffer) override {
        return Outcome(::CapabilitiesRequestAndCapabilitiesReply(
            NativeHandle(monitor), buffer.data(), static_cast<DWORD>(buffer.size())));
    }

    DdcCall GetVCPFeatureAndVCPFeatureReply(PhysicalMonitorHandle monitor, std::uint8_t code,
                                            std::uint32_t& type, std::uint32_t& current,
                                            std::uint32_t& maximum) override {
        MC_VCP_CODE_TYPE nativeType = MC_MOMENTARY;
        DWORD nativeCurrent = 0;
        DWORD nativeMaximum = 0;
        const auto outcome = Outcome(::GetVCPFeatureAndVCPFeatureReply(
            NativeHandle(monitor), code, &nativeType, &nativeCurrent, &nativeMaximum));
        type = static_cast<std::uint32_t>(nativeType);
        current = nativeCurrent;
        maximum = nativeMaximum;
        return outcome;
    }

    DdcCall SetVCPFeature(PhysicalMonitorHandle monitor, std::uint8_t code,
                          std::uint32_t value) override {
        return Outcome(::SetVCPFeature(NativeHandle(monitor), code, value));
    }
};

}  // namespace

std::unique_ptr<MonitorConfiguration> MakeWin32MonitorConfiguration() {
    return std::make_unique<Win32MonitorConfiguration>();
}

}  // namespace lenticor::win32
