#pragma once
// The real Windows implementations of the ports the DDC/CI commands add: the
// monitor configuration API of dxva2 and the standard-input pipe. Each member
// is the Windows call its port names, nothing more.

#include "platform/monitor_configuration.h"
#include "platform/standard_input.h"

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

class Win32StandardInput final : public StandardInput {
  public:
    bool IsPipe() override;
    bool PeekAvailable(std::uint32_t& available) override;
    bool Read(std::span<char> buffer, std::uint32_t& read) override;
};

}  // namespace lenticor::win32
