#include "platform/sim/sim_monitors.h"

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor::sim {

// Adapter and output in the low bytes, the output's re-enumeration count
// above them: a display keeps its HMONITOR while it stays on the desktop and
// gets a new one when it comes back
// (https://learn.microsoft.com/en-us/windows/win32/gdi/hmonitor-and-the-device-context).
MonitorHandle SimMonitorHandle(const SimMachine& machine, std::size_t adapter, std::size_t output) {
    const auto generation = machine.adapters[adapter].outputs[output].monitorGeneration;
    return {(std::uintptr_t{generation} << 16) | ((adapter + 1) << 8) | (output + 1)};
}

SimOutput* SimOutputOfMonitor(SimMachine& machine, MonitorHandle monitor, std::size_t* adapter,
                              std::size_t* output) {
    const std::size_t a = ((monitor.value >> 8) & 0xFF) - 1;
    const std::size_t o = (monitor.value & 0xFF) - 1;
    if (a >= machine.adapters.size() || o >= machine.adapters[a].outputs.size())
        return nullptr;
    SimOutput& found = machine.adapters[a].outputs[o];
    // An output that left the desktop, or re-enumerated, since the handle was made.
    if (!found.active || SimMonitorHandle(machine, a, o) != monitor)
        return nullptr;
    if (adapter != nullptr)
        *adapter = a;
    if (output != nullptr)
        *output = o;
    return &found;
}

bool SimMonitors::EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) {
    const PortCall counted;
    std::vector<MonitorHandle> handles;
    for (std::size_t a = 0; a < machine_.adapters.size(); ++a) {
        const auto& outputs = machine_.adapters[a].outputs;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            if (outputs[o].active)
                handles.push_back(SimMonitorHandle(machine_, a, o));
        }
    }
    for (const auto handle : handles) {
        if (!visit(handle))
            return false;
    }
    return true;
}

bool SimMonitors::QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) {
    const PortCall counted;
    const SimOutput* found = SimOutputOfMonitor(machine_, monitor);
    if (found == nullptr)
        return false;  // the display left the desktop since it was enumerated
    const SimOutput& output = *found;
    const auto right = output.x + static_cast<std::int32_t>(output.mode.width);
    const auto bottom = output.y + static_cast<std::int32_t>(output.mode.height);
    info.monitor = {output.x, output.y, right, bottom};
    info.work = info.monitor;
    info.flags = output.x == 0 && output.y == 0 ? 1u : 0u;
    info.device = output.deviceName.substr(0, 31);
    return true;
}

}  // namespace lenticor::sim
