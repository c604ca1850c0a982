#pragma once
// The real Windows monitor configuration: dxva2's physical-monitor and DDC/CI
// functions. Each member is the Windows call its port names, nothing more.

#include "platform/monitor_configuration.h"

namespace lenticor::win32 {

class Win32MonitorConfiguration final : public MonitorConfiguration {
  public:
    DdcCall GetNumberOfPhysicalMonitors(MonitorHandle monitor, std::uint32_t& count) override;
    DdcCall GetPhysicalMonitors(MonitorHandle monitor,
                                std::span<PhysicalMonitor> monitors) override;
    DdcCall DestroyPhysicalMonitors(std::span<const PhysicalMonitor> monitors) override;
    DdcCall GetCapabilitiesStringLength(PhysicalMonitorHandle monitor,
                                        std::uint32_t& length) override;
    DdcCall CapabilitiesRequestAndCapabilitiesReply(PhysicalMonitorHandle monitor,
                                                    std::span<char> buffer) override;
    DdcCall GetVCPFeatureAndVCPFeatureReply(PhysicalMonitorHandle monitor, std::uint8_t code,
                                            std::uint32_t& type, std::uint32_t& current,
                                            std::uint32_t& maximum) override;
    DdcCall SetVCPFeature(PhysicalMonitorHandle monitor, std::uint8_t code,
                          std::uint32_t value) override;
};

}  // namespace lenticor::win32
