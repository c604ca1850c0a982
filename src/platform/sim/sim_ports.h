#pragma once
// The port implementations of the simulated machine, one header each. Every
// view is computed from the one SimMachine on each call, so the DXGI outputs,
// the display-device tables, the registry and the display configuration
// always agree.
//
// Where the simulation is simpler than Windows it says so next to the call.

#include "platform/platform.h"
#include "platform/sim/sim_config_manager.h"
#include "platform/sim/sim_display_config.h"
#include "platform/sim/sim_display_devices.h"
#include "platform/sim/sim_dxgi.h"
#include "platform/sim/sim_foreground.h"
#include "platform/sim/sim_host.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_monitor_configuration.h"
#include "platform/sim/sim_monitors.h"
#include "platform/sim/sim_nvidia.h"
#include "platform/sim/sim_readiness.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_steady_clock.h"
#include "platform/sim/sim_window_system.h"

namespace lenticor::sim {

// All ports of one machine, and the Platform bundle over them with the ports
// the entry point takes from its host.
class SimPorts {
  public:
    explicit SimPorts(SimMachine& machine)
        : dxgi(machine),
          displayDevices(machine),
          registry(machine),
          displayConfig(machine),
          monitors(machine),
          configManager(machine),
          windows(machine),
          videoInputs(machine),
          steadyClock(machine),
          monitorConfiguration(machine, steadyClock),
          modules(machine),
          processes(machine) {}
    SimPorts(const SimPorts&) = delete;
    SimPorts& operator=(const SimPorts&) = delete;

    [[nodiscard]] Platform MakePlatform(Console& console, const Clock& clock, HostPorts host) {
        return ComposePlatform(console, clock, *this, host);
    }

    SimDxgi dxgi;
    SimDisplayDevices displayDevices;
    SimRegistry registry;
    SimDisplayConfig displayConfig;
    SimMonitors monitors;
    SimConfigManager configManager;
    SimWindowSystem windows;
    SimVideoInputDevices videoInputs;
    SimSteadyClock steadyClock;
    SimMonitorConfiguration monitorConfiguration;
    SimModuleLoader modules;
    SimProcesses processes;
};

}  // namespace lenticor::sim
