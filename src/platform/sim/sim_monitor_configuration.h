#pragma once
// The monitor configuration API (dxva2) of the simulated machine.

#include <cstdint>
#include <functional>
#include <map>
#include <span>

#include "platform/monitor_configuration.h"
#include "platform/sim/sim_ddc.h"

namespace lenticor::sim {

class SimSteadyClock;
struct SimMachine;
struct SimMonitor;
struct SimOutput;

// dxva2 over the simulated monitors. Physical-monitor handles are counted
// until destroyed, so tests can prove that none leaks.
class SimMonitorConfiguration final : public MonitorConfiguration {
  public:
    SimMonitorConfiguration(SimMachine& machine, SimSteadyClock& clock)
        : machine_(machine), clock_(clock) {}
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

    // Physical-monitor handles handed out and not yet destroyed.
    [[nodiscard]] std::size_t livePhysicalMonitors() const { return live_.size(); }

  private:
    struct Issued {
        std::size_t adapter = 0;
        std::size_t output = 0;
        std::size_t monitor = 0;       // 0 the output's own, then its clones'
        std::uint32_t generation = 0;  // the HMONITOR's, see SimOutput
    };
    // The bus behind a handle, or the error a call on it reports before any
    // bus traffic.
    struct Target {
        SimOutput* output = nullptr;
        SimMonitor* monitor = nullptr;
        Win32Error error = 0;
    };
    [[nodiscard]] Target Find(PhysicalMonitorHandle monitor);
    // Answers the command from the monitor's state: 0 or the error to report.
    using Answer = std::function<std::uint32_t(SimOutput& output, SimMonitor& monitor,
                                               SimDdcTransaction& transaction)>;
    using Cost = std::function<std::int64_t(const SimMonitor& monitor)>;
    // One bus transaction: charges its cost to the clock, answers it unless
    // the handle or the bus fails, and logs it.
    DdcCall Transact(PhysicalMonitorHandle monitor, SimDdcTransaction transaction, const Cost& cost,
                     const Answer& answer);

    SimMachine& machine_;
    SimSteadyClock& clock_;
    std::map<PhysicalMonitorHandle, Issued> live_;
    std::uintptr_t next_ = 1;
};

}  // namespace lenticor::sim
