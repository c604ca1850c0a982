#include "platform/sim/sim_monitor_configuration.h"

#include "platform/native_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_monitors.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_steady_clock.h"

#include <algorithm>

namespace lenticor::sim {
namespace {

// FACILITY_GRAPHICS codes of the monitor configuration API, as GetLastError
// reports them:
// https://learn.microsoft.com/en-us/windows/win32/com/com-error-codes-10
//
// The monitor's VCP reply flagged the code as unsupported.
constexpr Win32Error kErrorDdcciVcpNotSupported = 0xC0262584u;
// A handle that GetPhysicalMonitorsFromHMONITOR never issued or that was destroyed.
constexpr Win32Error kErrorInvalidPhysicalMonitorHandle = 0xC026258Cu;
// ERROR_GRAPHICS_PARAMETER_ARRAY_TOO_SMALL: what GetPhysicalMonitorsFromHMONITOR
// answers for an array of the wrong size in the field
// (https://github.com/Quorthon13/OLED-Sleeper/pull/87).
constexpr Win32Error kErrorParameterArrayTooSmall = 0xC02625E6u;
// "The operating system asynchronously destroyed the monitor which corresponds
// to this handle": the monitor was removed or re-enumerated since.
constexpr Win32Error kErrorMonitorNoLongerExists = 0xC026258Du;
// What user32 reports for an HMONITOR that is not (or no longer) valid:
// https://learn.microsoft.com/en-us/windows/win32/debug/system-error-codes--1300-1699-
constexpr Win32Error kErrorInvalidMonitorHandle = 1461;

constexpr std::int64_t kMillisecond = SimDdcBus::kMillisecond;
// The VESA DDC/CI 1.1 host wait times, the least a transaction can cost:
// 40 ms after a Get VCP Feature request, 50 ms after Set VCP Feature, 50 ms
// per capabilities request fragment of at most 32 bytes. Microsoft gives the
// same figures for the two VCP calls ("takes about 40 milliseconds",
// https://learn.microsoft.com/en-us/windows/win32/api/lowlevelmonitorconfigurationapi/nf-lowlevelmonitorconfigurationapi-getvcpfeatureandvcpfeaturereply;
// "about 50 milliseconds", https://learn.microsoft.com/en-us/previous-versions/ms775247(v=vs.85)).
constexpr std::int64_t kGetVcpCost = 40 * kMillisecond;
constexpr std::int64_t kSetVcpCost = 50 * kMillisecond;
constexpr std::int64_t kCapabilitiesFragmentCost = 50 * kMillisecond;
constexpr std::size_t kCapabilitiesFragmentBytes = 32;

constexpr std::uint32_t kMcSetParameter = 1;

std::uint32_t Failure(const std::optional<std::uint32_t>& all,
                      const std::map<std::uint8_t, std::uint32_t>& byCode, std::uint8_t code) {
    if (const auto found = byCode.find(code); found != byCode.end()) {
        return found->second;
    }
    return all.value_or(0);
}

// Counts one call that reached the monitor against a fault that passes;
// answers the fault while it still applies.
const SimDdcFlaky* TakeFlaky(SimMachine& machine, SimDdcFlaky* flaky) {
    if (flaky == nullptr || flaky->times == 0) {
        return nullptr;
    }
    --flaky->times;
    machine.ddc.changed = true;
    return flaky;
}

SimDdcFlaky* FlakyOf(std::map<std::uint8_t, SimDdcFlaky>& byCode, std::uint8_t code) {
    const auto found = byCode.find(code);
    return found == byCode.end() ? nullptr : &found->second;
}

// What a transaction takes on this monitor: a slow one (a dock between, busy
// firmware) takes longer than the minimum wait on every call.
std::int64_t Slowed(const SimMonitor& monitor, std::int64_t minimum) {
    return minimum * (monitor.ddc ? monitor.ddc->costPercent : 100) / 100;
}

SimDdcTransaction Transaction(const char* operation, std::optional<std::uint8_t> code = {},
                              std::optional<std::uint32_t> value = {}) {
    SimDdcTransaction transaction;
    transaction.operation = operation;
    transaction.code = code;
    transaction.value = value;
    return transaction;
}

}  // namespace

// Every monitor of the source counts: in duplicate mode one HMONITOR carries
// the physical monitors of all its targets, and a tool that expects one per
// handle gives up (https://github.com/newAM/monitorcontrol/issues/300: "more
// than one physical monitor per hmonitor" once the desktop is duplicated).
DdcCall SimMonitorConfiguration::GetNumberOfPhysicalMonitors(MonitorHandle monitor,
                                                             std::uint32_t& count) {
    const PortCall counted;
    SimOutput* output = SimOutputOfMonitor(machine_, monitor);
    if (output == nullptr) {
        return {false, kErrorInvalidMonitorHandle};
    }
    count = 0;
    for (std::size_t m = 0; m < SimSourceMonitorCount(*output); ++m) {
        const auto& ddc = SimSourceMonitor(*output, m).ddc;
        count += ddc ? ddc->physicalMonitors : 1;
    }
    return {true, 0};
}

DdcCall SimMonitorConfiguration::GetPhysicalMonitors(MonitorHandle monitor,
                                                     std::span<PhysicalMonitor> monitors) {
    const PortCall counted;
    std::size_t adapter = 0;
    std::size_t index = 0;
    SimOutput* output = SimOutputOfMonitor(machine_, monitor, &adapter, &index);
    if (output == nullptr) {
        return {false, kErrorInvalidMonitorHandle};
    }
    std::uint32_t count = 0;
    if (const auto call = GetNumberOfPhysicalMonitors(monitor, count); !call.ok) {
        return call;
    }
    if (monitors.size() < count) {
        return {false, kErrorParameterArrayTooSmall};
    }
    std::size_t next = 0;
    for (std::size_t m = 0; m < SimSourceMonitorCount(*output); ++m) {
        const auto& each = SimSourceMonitor(*output, m);
        for (std::uint32_t i = 0; i < (each.ddc ? each.ddc->physicalMonitors : 1); ++i) {
            auto& issued = monitors[next++];
            issued.handle = {next_++};
            issued.description = each.deviceString.substr(0, 127);
            live_[issued.handle] = {adapter, index, m, output->monitorGeneration};
        }
    }
    return {true, 0};
}

DdcCall SimMonitorConfiguration::DestroyPhysicalMonitors(
    std::span<const PhysicalMonitor> monitors) {
    const PortCall counted;
    DdcCall outcome{true, 0};
    for (const auto& monitor : monitors) {
        if (live_.erase(monitor.handle) == 0) {
            outcome = {false, kErrorInvalidPhysicalMonitorHandle};
        }
    }
    return outcome;
}

SimMonitorConfiguration::Target SimMonitorConfiguration::Find(PhysicalMonitorHandle monitor) {
    const auto issued = live_.find(monitor);
    if (issued == live_.end()) {
        return {nullptr, nullptr, kErrorInvalidPhysicalMonitorHandle};
    }
    SimOutput& output = machine_.adapters[issued->second.adapter].outputs[issued->second.output];
    if (!output.active || issued->second.monitor >= SimSourceMonitorCount(output) ||
        output.monitorGeneration != issued->second.generation) {
        return {&output, nullptr, kErrorMonitorNoLongerExists};
    }
    return {&output, &SimSourceMonitor(output, issued->second.monitor), 0};
}

DdcCall SimMonitorConfiguration::Transact(PhysicalMonitorHandle monitor,
                                          SimDdcTransaction transaction, const Cost& cost,
                                          const Answer& answer) {
    const auto start = machine_.ddc.now;
    auto target = Find(monitor);
    if (target.output != nullptr) {
        transaction.display = target.output->deviceName;
    }
    if (target.error == 0) {
        clock_.Advance(cost(*target.monitor));
        // The monitor may have gone while the bus was busy.
        target = Find(monitor);
    }
    if (target.error == 0) {
        target.error = SimDdcBusError(*target.monitor, transaction.code);
    }
    if (target.error == 0) {
        target.error = answer(*target.output, *target.monitor, transaction);
    }
    transaction.at = start - SimDdcBus::kRunStart;
    transaction.cost = machine_.ddc.now - start;
    if (target.error != 0) {
        transaction.error = target.error;
    }
    machine_.ddc.log.push_back(transaction);
    return target.error != 0 ? DdcCall{false, target.error} : DdcCall{true, 0};
}

DdcCall SimMonitorConfiguration::GetCapabilitiesStringLength(PhysicalMonitorHandle monitor,
                                                             std::uint32_t& length) {
    const PortCall counted;
    // Asking for the length is at least one request and reply on the bus.
    return Transact(
        monitor, Transaction("GetCapabilitiesStringLength"),
        [](const SimMonitor& target) { return Slowed(target, kCapabilitiesFragmentCost); },
        [&](SimOutput&, SimMonitor& target, SimDdcTransaction& transaction) -> std::uint32_t {
            const auto& ddc = *target.ddc;
            if (ddc.capabilitiesLengthFails) {
                return *ddc.capabilitiesLengthFails;
            }
            length = static_cast<std::uint32_t>(ddc.capabilities.size() + 1);
            transaction.value = length;
            return 0;
        });
}

DdcCall SimMonitorConfiguration::CapabilitiesRequestAndCapabilitiesReply(
    PhysicalMonitorHandle monitor, std::span<char> buffer) {
    const PortCall counted;
    // A monitor that answers sends every fragment, also when the reply then
    // fails (capabilitiesRequestFails): the whole string's time is spent, as
    // for any failed transaction. One that does not answer costs the wait
    // for the first reply. A monitor with a measured reply time takes that.
    const auto cost = [](const SimMonitor& target) {
        const bool answers = SimDdcBusError(target, std::nullopt) == 0;
        if (answers && target.ddc->capabilitiesMs) {
            return std::int64_t{*target.ddc->capabilitiesMs} * kMillisecond;
        }
        const std::size_t bytes = answers ? target.ddc->capabilities.size() : 0;
        const auto fragments = std::max<std::size_t>(
            1, (bytes + kCapabilitiesFragmentBytes - 1) / kCapabilitiesFragmentBytes);
        return Slowed(target, static_cast<std::int64_t>(fragments) * kCapabilitiesFragmentCost);
    };
    return Transact(
        monitor, Transaction("CapabilitiesRequestAndCapabilitiesReply"), cost,
        [&](SimOutput&, SimMonitor& target, SimDdcTransaction& transaction) -> std::uint32_t {
            auto& ddc = *target.ddc;
            const auto* flaky =
                TakeFlaky(machine_, ddc.flakyCapabilities ? &*ddc.flakyCapabilities : nullptr);
            if (flaky != nullptr) {
                return *flaky->error;
            }
            if (ddc.capabilitiesRequestFails) {
                return *ddc.capabilitiesRequestFails;
            }
            // Not verified on Windows: a buffer without room for the string
            // and its terminator is refused.
            if (buffer.size() < ddc.capabilities.size() + 1) {
                return static_cast<std::uint32_t>(kErrorInvalidParameter);
            }
            *std::copy(ddc.capabilities.begin(), ddc.capabilities.end(), buffer.begin()) = '\0';
            transaction.value = static_cast<std::uint32_t>(ddc.capabilities.size() + 1);
            return 0;
        });
}

DdcCall SimMonitorConfiguration::GetVCPFeatureAndVCPFeatureReply(PhysicalMonitorHandle monitor,
                                                                 std::uint8_t code,
                                                                 std::uint32_t& type,
                                                                 std::uint32_t& current,
                                                                 std::uint32_t& maximum) {
    const PortCall counted;
    return Transact(
        monitor, Transaction("GetVCPFeatureAndVCPFeatureReply", code),
        [](const SimMonitor& target) { return Slowed(target, kGetVcpCost); },
        [&](SimOutput&, SimMonitor& target, SimDdcTransaction& transaction) -> std::uint32_t {
            auto& ddc = *target.ddc;
            const auto* flaky = TakeFlaky(machine_, FlakyOf(ddc.flakyReads, code));
            if (flaky != nullptr && flaky->error) {
                return *flaky->error;
            }
            if (const auto error = Failure(ddc.readFailsAll, ddc.readFails, code); error != 0) {
                return error;
            }
            const auto feature = ddc.vcp.find(code);
            if (feature == ddc.vcp.end()) {
                return kErrorDdcciVcpNotSupported;
            }
            type = kMcSetParameter;
            current = feature->second.current;
            maximum = feature->second.maximum;
            // A garbled reply that still passed its checksum.
            if (flaky != nullptr) {
                current = flaky->current.value_or(current);
                maximum = flaky->maximum.value_or(maximum);
            }
            transaction.value = current;
            transaction.maximum = maximum;
            return 0;
        });
}

DdcCall SimMonitorConfiguration::SetVCPFeature(PhysicalMonitorHandle monitor, std::uint8_t code,
                                               std::uint32_t value) {
    const PortCall counted;
    return Transact(
        monitor, Transaction("SetVCPFeature", code, value),
        [](const SimMonitor& target) { return Slowed(target, kSetVcpCost); },
        [&](SimOutput& output, SimMonitor& target, SimDdcTransaction&) -> std::uint32_t {
            auto& ddc = *target.ddc;
            // A write the monitor did not acknowledge changed nothing.
            if (const auto* flaky = TakeFlaky(machine_, FlakyOf(ddc.flakyWrites, code))) {
                return *flaky->error;
            }
            if (const auto error = Failure(ddc.writeFailsAll, ddc.writeFails, code); error != 0) {
                return error;
            }
            WriteSimVcp(machine_, output, target, code, value);
            return 0;
        });
}

}  // namespace lenticor::sim
