#pragma once
// The HMONITORs of the simulated desktop: one per active output.

#include <cstddef>

#include "platform/monitors.h"

namespace lenticor::sim {

struct SimMachine;
struct SimOutput;

// The HMONITOR of an output, and the active output an HMONITOR still names
// (null when it left the desktop or re-enumerated since); `adapter` and
// `output` receive its indexes when given.
[[nodiscard]] MonitorHandle SimMonitorHandle(const SimMachine& machine, std::size_t adapter,
                                             std::size_t output);
SimOutput* SimOutputOfMonitor(SimMachine& machine, MonitorHandle monitor,
                              std::size_t* adapter = nullptr, std::size_t* output = nullptr);

// One HMONITOR per active output.
class SimMonitors final : public Monitors {
  public:
    explicit SimMonitors(SimMachine& machine) : machine_(machine) {}
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override;
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override;

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
