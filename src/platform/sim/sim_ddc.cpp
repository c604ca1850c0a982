#include "platform/sim/sim_ddc.h"

#include "app/text.h"
#include "platform/native_codes.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_reader.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace lenticor::sim {
namespace {

// FACILITY_GRAPHICS codes of the monitor configuration API, as GetLastError
// reports them:
// https://learn.microsoft.com/en-us/windows/win32/com/com-error-codes-10
//
// Nothing acknowledged the DDC/CI address: what dxva2 reports for a monitor
// without DDC/CI (observed for a capabilities read on Windows:
// https://github.com/arcnmx/ddc-hi-rs/issues/5, os error -1071241854).
constexpr Win32Error kErrorI2cTransmittingData = 0xC0262582u;

constexpr std::int64_t kMillisecond = SimDdcBus::kMillisecond;
constexpr std::uint8_t kVcpPower = 0xD6;
constexpr std::uint8_t kVcpBrightness = 0x10;
constexpr std::uint32_t kPowerOn = 1;
constexpr std::uint32_t kPowerOff = 4;      // MCCS: 04 off (DPM)
constexpr std::uint32_t kPowerOffLast = 5;  // MCCS: 02 standby .. 05 power off
// A re-enumeration is a new arrival; a second later keeps it predictable.
constexpr std::uint64_t kReplugArrivalStep = 10'000'000;

bool InStandby(std::uint32_t power) {
    return power != kPowerOn;
}

}  // namespace

std::size_t SimSourceMonitorCount(const SimOutput& output) {
    return output.monitor ? 1 + output.clones.size() : 0;
}

SimMonitor& SimSourceMonitor(SimOutput& output, std::size_t index) {
    return index == 0 ? *output.monitor : output.clones[index - 1].monitor;
}

namespace {

void SetPower(SimMachine& machine, SimDdcMonitor& ddc, std::uint32_t value) {
    auto& power = ddc.vcp[kVcpPower].current;
    if (power != value) {
        power = value;
        machine.ddc.changed = true;
    }
}

// Applies one transition that has come due. A monitor that re-enumerates as
// it wakes first leaves the desktop (its HMONITOR and device go, as a
// DisplayPort monitor's do when it sleeps and wakes:
// https://github.com/microsoft/PowerToys/issues/3217) and arrives again
// reenumerationGapMs later, with a new HMONITOR and a new arrival time.
// Asleep, a DisplayPort monitor may stop holding its hot-plug signal, and
// Windows then treats it as unplugged
// (https://github.com/microsoft/PowerToys/issues/3217).
void ScheduleHotPlugDrop(SimDdcMonitor& ddc, std::int64_t from) {
    if (ddc.hotPlugDropMs) {
        ddc.transition = SimDdcMonitor::Transition{ddc.vcp[kVcpPower].current,
                                                   from + *ddc.hotPlugDropMs * kMillisecond};
        ddc.transition->dropsHotPlug = true;
    }
}

// False when the monitor left its output, so `monitor` is no longer valid.
bool CompleteTransition(SimMachine& machine, SimOutput& output, SimMonitor& monitor) {
    auto& ddc = *monitor.ddc;
    const auto transition = *ddc.transition;
    ddc.transition.reset();
    machine.ddc.changed = true;
    if (transition.dropsHotPlug) {
        if (&monitor == &*output.monitor) {
            SimDropHotPlug(machine, output);
            return false;
        }
        return true;
    }
    if (transition.returns) {
        output.active = true;
        monitor.lastArrival += kReplugArrivalStep;
        monitor.lastArrivalChanged = true;
        return true;
    }
    SetPower(machine, ddc, transition.value);
    if (transition.reenumerate) {
        ++output.monitorGeneration;
        output.active = false;
        ddc.transition = SimDdcMonitor::Transition{
            kPowerOn, transition.due + ddc.reenumerationGapMs * kMillisecond, false, true};
    } else if (InStandby(transition.value)) {
        ScheduleHotPlugDrop(ddc, transition.due);
    }
    return true;
}

// Carries out the monitor's transitions that are due (with `everything`, all).
void SettleMonitor(SimMachine& machine, SimOutput& output, SimMonitor& monitor, bool everything) {
    while (monitor.ddc && monitor.ddc->transition &&
           (everything || monitor.ddc->transition->due <= machine.ddc.now)) {
        if (!CompleteTransition(machine, output, monitor)) {
            return;
        }
    }
    if (monitor.ddc && monitor.ddc->brightnessRevert &&
        (everything || monitor.ddc->brightnessRevert->due <= machine.ddc.now)) {
        monitor.ddc->vcp[kVcpBrightness].current = monitor.ddc->brightnessRevert->value;
        monitor.ddc->brightnessRevert.reset();
        machine.ddc.changed = true;
    }
}

// D6 as a monitor carries it out: on wakes it from standby (after wakeMs,
// unless it sleeps through the first request), a standby value puts it to
// sleep (after offDelayMs). Values outside 01..05 are ignored.
void WritePower(SimMachine& machine, SimOutput& output, SimMonitor& monitor, std::uint32_t value) {
    auto& ddc = *monitor.ddc;
    if (value < kPowerOn || value > kPowerOffLast) {
        return;
    }
    const auto now = machine.ddc.now;
    const bool standby = InStandby(ddc.vcp[kVcpPower].current);
    auto& transition = ddc.transition;
    if (value == kPowerOn) {
        if (!standby) {
            transition.reset();  // an on before a pending off keeps it on
            return;
        }
        if (transition && transition->value == kPowerOn) {
            return;  // already waking
        }
        if (ddc.ignoresFirstWrite && !ddc.firstWriteIgnored) {
            ddc.firstWriteIgnored = true;
            return;
        }
        transition = SimDdcMonitor::Transition{kPowerOn, now + ddc.wakeMs * kMillisecond,
                                               ddc.reenumeratesOnWake};
    } else if (standby) {
        // Also ends a wake in progress; a drop already on its way stays.
        SetPower(machine, ddc, value);
        if (!transition || !transition->dropsHotPlug) {
            transition.reset();
            ScheduleHotPlugDrop(ddc, now);
        }
        SettleMonitor(machine, output, monitor, false);
        return;
    } else if (transition) {
        transition->value = value;
    } else {
        transition = SimDdcMonitor::Transition{value, now + ddc.offDelayMs * kMillisecond, false};
    }
    SettleMonitor(machine, output, monitor, false);
}

}  // namespace

// A Set VCP Feature has no reply in DDC/CI: a code the monitor does not know,
// or a value above its maximum, is dropped silently and the call succeeds.
void WriteSimVcp(SimMachine& machine, SimOutput& output, SimMonitor& monitor, std::uint8_t code,
                 std::uint32_t value) {
    auto& ddc = *monitor.ddc;
    const auto feature = ddc.vcp.find(code);
    if (feature == ddc.vcp.end()) {
        return;
    }
    if (code == kVcpPower) {
        WritePower(machine, output, monitor, value);
        return;
    }
    if (value > feature->second.maximum || feature->second.current == value) {
        return;
    }
    // In HDR mode or a locked picture mode many monitors drop a brightness
    // write or restore their own value a moment later
    // (https://github.com/rockowitz/ddcutil/issues/32): the write still
    // succeeds, as it has no reply.
    if (code == kVcpBrightness && ddc.brightnessRevertMs) {
        if (*ddc.brightnessRevertMs == 0) {
            return;
        }
        const auto own =
            ddc.brightnessRevert ? ddc.brightnessRevert->value : feature->second.current;
        ddc.brightnessRevert = SimDdcMonitor::BrightnessRevert{
            own, machine.ddc.now + *ddc.brightnessRevertMs * kMillisecond};
    }
    feature->second.current = value;
    machine.ddc.changed = true;
}

std::uint32_t SimDdcBusError(const SimMonitor& monitor, std::optional<std::uint8_t> code) {
    const auto& ddc = monitor.ddc;
    if (!ddc || ddc->noDdc) {
        return kErrorI2cTransmittingData;
    }
    // Whether a monitor still answers DDC/CI in standby is its own affair
    // (https://github.com/rockowitz/ddcutil/issues/482); in deep standby only
    // the power mode does.
    const auto power = ddc->vcp.find(kVcpPower);
    const bool asleep = power != ddc->vcp.end() && InStandby(power->second.current);
    // Many monitors switched off over DDC/CI stop listening altogether until
    // their power button is pressed (https://github.com/rockowitz/ddcutil/issues/482:
    // after D6 = 4 "DDC communication failed", D6 = 2 kept answering).
    if (ddc->deafWhenOff && asleep && power->second.current >= kPowerOff) {
        return kErrorI2cTransmittingData;
    }
    return ddc->deepStandby && asleep && code != kVcpPower ? kErrorI2cTransmittingData : 0;
}

void SettleSimDdc(SimMachine& machine, bool everything) {
    for (auto& adapter : machine.adapters) {
        for (auto& output : adapter.outputs) {
            for (std::size_t m = 0; m < SimSourceMonitorCount(output); ++m) {
                SettleMonitor(machine, output, SimSourceMonitor(output, m), everything);
            }
        }
    }
}

bool SimDdcNeedsSaving(const SimMachine& machine) {
    return machine.ddc.changed || !machine.ddc.log.empty() || machine.ddc.documentHasLog;
}

}  // namespace lenticor::sim
