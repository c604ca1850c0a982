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
constexpr std::uint32_t kPowerOff = 4;              // MCCS: 04 off (DPM)
constexpr std::uint32_t kPowerOffLast = 5;          // MCCS: 02 standby .. 05 power off
constexpr std::uint32_t kVcpValueMaximum = 0xFFFF;  // DDC/CI carries 16-bit values
// A re-enumeration is a new arrival; a second later keeps it predictable.
constexpr std::uint64_t kReplugArrivalStep = 10'000'000;

std::uint8_t ReadVcpCode(const Reader& at, const std::string& key) {
    const auto code = key.size() == 2 ? ParseHexDigits(key) : std::nullopt;
    if (!code) {
        at.Fail("a VCP code is two hexadecimal digits, such as \"D6\"");
    }
    return static_cast<std::uint8_t>(*code);
}

// An object keyed by VCP code; every code once, whatever its letter case.
template <class Value>
std::map<std::uint8_t, Value> ReadByVcpCode(const Reader& reader,
                                            Value (*read)(const Reader& reader)) {
    if (!reader.value().is_object()) {
        reader.Fail("expected an object keyed by VCP code");
    }
    std::map<std::uint8_t, Value> values;
    for (const auto& item : reader.value().items()) {
        const auto member = reader.Member(item.key());
        const auto code = ReadVcpCode(member, item.key());
        if (!values.emplace(code, read(member)).second) {
            member.Fail("VCP code given twice");
        }
    }
    return values;
}

std::uint32_t ReadFailureCode(const Reader& reader) {
    return static_cast<std::uint32_t>(reader.Code());
}

SimVcpFeature ReadVcpFeature(const Reader& reader) {
    SimVcpFeature feature;
    if (reader.value().is_object()) {
        reader.ExpectObject({"current", "maximum"});
        feature.current =
            static_cast<std::uint32_t>(reader.Member("current").Integer(0, kVcpValueMaximum));
        feature.maximum =
            static_cast<std::uint32_t>(reader.Member("maximum").Integer(0, kVcpValueMaximum));
    } else {
        feature.current = static_cast<std::uint32_t>(reader.Integer(0, kVcpValueMaximum));
        feature.maximum = 100;
    }
    return feature;
}

// {"times": n, "error": code}; a read may instead answer a glitched
// "current" or "maximum" (or both).
SimDdcFlaky ReadFlaky(const Reader& reader, bool glitches) {
    if (glitches) {
        reader.ExpectObject({"times", "error", "current", "maximum"});
    } else {
        reader.ExpectObject({"times", "error"});
    }
    SimDdcFlaky flaky;
    flaky.times = static_cast<std::uint32_t>(reader.Member("times").Integer(0, 1000));
    if (reader.Has("error")) {
        flaky.error = ReadFailureCode(reader.Member("error"));
    }
    if (reader.Has("current")) {
        flaky.current =
            static_cast<std::uint32_t>(reader.Member("current").Integer(0, kVcpValueMaximum));
    }
    if (reader.Has("maximum")) {
        flaky.maximum =
            static_cast<std::uint32_t>(reader.Member("maximum").Integer(0, kVcpValueMaximum));
    }
    const bool glitch = flaky.current || flaky.maximum;
    if (flaky.error.has_value() == glitch) {
        reader.Fail(glitches ? "expected either \"error\" or a glitched \"current\"/\"maximum\""
                             : "expected \"error\"");
    }
    return flaky;
}

SimDdcFlaky ReadFlakyRead(const Reader& reader) {
    return ReadFlaky(reader, true);
}

SimDdcFlaky ReadFlakyFailure(const Reader& reader) {
    return ReadFlaky(reader, false);
}

// A code for every VCP code, or an object of codes by VCP code.
void ReadFailures(const Reader& reader, std::optional<std::uint32_t>& all,
                  std::map<std::uint8_t, std::uint32_t>& byCode) {
    if (reader.value().is_object()) {
        byCode = ReadByVcpCode(reader, &ReadFailureCode);
    } else {
        all = ReadFailureCode(reader);
    }
}

std::string VcpKey(std::uint8_t code) {
    char text[3] = {};
    std::snprintf(text, sizeof text, "%02X", code);
    return text;
}

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

namespace {

nlohmann::json TransactionJson(const SimDdcTransaction& transaction) {
    nlohmann::json entry = {{"atMs", transaction.at / kMillisecond},
                            {"costMs", transaction.cost / kMillisecond},
                            {"display", WideToUtf8(transaction.display)},
                            {"operation", transaction.operation}};
    if (transaction.code) {
        entry["code"] = VcpKey(*transaction.code);
    }
    if (transaction.value) {
        entry["value"] = *transaction.value;
    }
    if (transaction.maximum) {
        entry["maximum"] = *transaction.maximum;
    }
    if (transaction.error) {
        char text[11] = {};
        std::snprintf(text, sizeof text, "0x%08X", *transaction.error);
        entry["error"] = text;
    }
    return entry;
}

}  // namespace

SimDdcMonitor ReadSimDdcMonitor(const Reader& reader) {
    reader.ExpectObject({"physicalMonitors",
                         "noDdc",
                         "capabilities",
                         "capabilitiesLengthFails",
                         "capabilitiesRequestFails",
                         "vcp",
                         "readFails",
                         "writeFails",
                         "wakeMs",
                         "offDelayMs",
                         "ignoresFirstWrite",
                         "reenumeratesOnWake",
                         "reenumerationGapMs",
                         "deepStandby",
                         "flakyReads",
                         "flakyWrites",
                         "flakyCapabilities",
                         "brightnessRevertMs",
                         "deafWhenOff",
                         "capabilitiesMs",
                         "costPercent",
                         "hotPlugDropMs"});
    SimDdcMonitor ddc;
    if (reader.Has("physicalMonitors")) {
        ddc.physicalMonitors =
            static_cast<std::uint32_t>(reader.Member("physicalMonitors").Integer(0, 4));
    }
    reader.Read("noDdc", ddc.noDdc);
    if (reader.Has("capabilities")) {
        const auto member = reader.Member("capabilities");
        const auto text = member.Text();
        if (std::any_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x20 || c > 0x7E; })) {
            member.Fail("a capabilities string holds printable ASCII only");
        }
        ddc.capabilities.assign(text.begin(), text.end());
    }
    if (reader.Has("capabilitiesLengthFails")) {
        ddc.capabilitiesLengthFails = ReadFailureCode(reader.Member("capabilitiesLengthFails"));
    }
    if (reader.Has("capabilitiesRequestFails")) {
        ddc.capabilitiesRequestFails = ReadFailureCode(reader.Member("capabilitiesRequestFails"));
    }
    if (reader.Has("vcp")) {
        ddc.vcp = ReadByVcpCode(reader.Member("vcp"), &ReadVcpFeature);
    }
    if (reader.Has("vcp")) {
        // A bare D6 value reports the highest power mode as its maximum.
        for (const auto& item : reader.Member("vcp").value().items()) {
            if (ParseHexDigits(item.key()) == kVcpPower && item.value().is_number()) {
                ddc.vcp[kVcpPower].maximum = kPowerOffLast;
            }
        }
    }
    if (reader.Has("readFails")) {
        ReadFailures(reader.Member("readFails"), ddc.readFailsAll, ddc.readFails);
    }
    if (reader.Has("writeFails")) {
        ReadFailures(reader.Member("writeFails"), ddc.writeFailsAll, ddc.writeFails);
    }
    if (reader.Has("wakeMs")) {
        ddc.wakeMs = static_cast<std::uint32_t>(reader.Member("wakeMs").Integer(0, 600'000));
    }
    if (reader.Has("offDelayMs")) {
        ddc.offDelayMs =
            static_cast<std::uint32_t>(reader.Member("offDelayMs").Integer(0, 600'000));
    }
    reader.Read("ignoresFirstWrite", ddc.ignoresFirstWrite);
    reader.Read("reenumeratesOnWake", ddc.reenumeratesOnWake);
    if (reader.Has("reenumerationGapMs")) {
        ddc.reenumerationGapMs =
            static_cast<std::uint32_t>(reader.Member("reenumerationGapMs").Integer(0, 600'000));
    }
    reader.Read("deepStandby", ddc.deepStandby);
    if (reader.Has("flakyReads")) {
        ddc.flakyReads = ReadByVcpCode(reader.Member("flakyReads"), &ReadFlakyRead);
    }
    if (reader.Has("flakyWrites")) {
        ddc.flakyWrites = ReadByVcpCode(reader.Member("flakyWrites"), &ReadFlakyFailure);
    }
    if (reader.Has("flakyCapabilities")) {
        ddc.flakyCapabilities = ReadFlakyFailure(reader.Member("flakyCapabilities"));
    }
    if (reader.Has("brightnessRevertMs")) {
        ddc.brightnessRevertMs =
            static_cast<std::uint32_t>(reader.Member("brightnessRevertMs").Integer(0, 600'000));
    }
    reader.Read("deafWhenOff", ddc.deafWhenOff);
    if (reader.Has("capabilitiesMs")) {
        ddc.capabilitiesMs =
            static_cast<std::uint32_t>(reader.Member("capabilitiesMs").Integer(0, 600'000));
    }
    if (reader.Has("costPercent")) {
        // A monitor may be slower than the minimum waits, never faster.
        ddc.costPercent =
            static_cast<std::uint32_t>(reader.Member("costPercent").Integer(100, 10'000));
    }
    if (reader.Has("hotPlugDropMs")) {
        ddc.hotPlugDropMs =
            static_cast<std::uint32_t>(reader.Member("hotPlugDropMs").Integer(0, 600'000));
    }
    return ddc;
}

void ReadSimDdcLog(const Reader& reader, SimMachine& machine) {
    machine.ddc.documentHasLog = !reader.Array().empty();
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

namespace {

// Each member of the object `name` of a stored "ddc", with its VCP code.
template <class Visit>
void ForEachStoredCode(nlohmann::json& ddc, const char* name, const Visit& visit) {
    if (ddc.contains(name)) {
        for (auto& [key, value] : ddc[name].items()) {
            visit(static_cast<std::uint8_t>(ParseHexDigits(key).value()), value);
        }
    }
}

void StoreMonitor(const SimMonitor& monitor, nlohmann::json& stored) {
    if (!stored.is_object()) {
        return;
    }
    if (monitor.lastArrivalChanged) {
        stored["lastArrival"] = monitor.lastArrival;
    }
    if (!monitor.ddc || !stored.contains("ddc")) {
        return;
    }
    auto& ddc = stored["ddc"];
    // The file keeps the shape it was written in: a bare number stays one.
    ForEachStoredCode(ddc, "vcp", [&](std::uint8_t code, nlohmann::json& value) {
        const auto current = monitor.ddc->vcp.at(code).current;
        if (value.is_object()) {
            value["current"] = current;
        } else {
            value = current;
        }
    });
    // The faults that passed stay passed in the next run.
    ForEachStoredCode(ddc, "flakyReads", [&](std::uint8_t code, nlohmann::json& value) {
        value["times"] = monitor.ddc->flakyReads.at(code).times;
    });
    ForEachStoredCode(ddc, "flakyWrites", [&](std::uint8_t code, nlohmann::json& value) {
        value["times"] = monitor.ddc->flakyWrites.at(code).times;
    });
    if (monitor.ddc->flakyCapabilities && ddc.contains("flakyCapabilities")) {
        ddc["flakyCapabilities"]["times"] = monitor.ddc->flakyCapabilities->times;
    }
}

}  // namespace

void StoreSimDdc(const SimMachine& machine, nlohmann::json& document) {
    auto& adapters = document["adapters"];
    // A run that only read the monitors leaves their values to the runs that
    // set them meanwhile.
    for (std::size_t a = 0;
         machine.ddc.changed && a < machine.adapters.size() && a < adapters.size(); ++a) {
        auto& outputs = adapters[a]["outputs"];
        const auto& simOutputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < simOutputs.size() && o < outputs.size(); ++o) {
            const auto& output = simOutputs[o];
            auto& stored = outputs[o];
            const auto& monitor = output.monitor ? output.monitor : output.asleepUnplugged;
            if (!monitor || !stored.contains("monitor")) {
                continue;
            }
            StoreMonitor(*monitor, stored["monitor"]);
            for (std::size_t c = 0; c < output.clones.size() && stored.contains("clones") &&
                                    c < stored["clones"].size();
                 ++c) {
                StoreMonitor(output.clones[c].monitor, stored["clones"][c]["monitor"]);
            }
        }
    }
    auto log = nlohmann::json::array();
    for (const auto& transaction : machine.ddc.log) {
        log.push_back(TransactionJson(transaction));
    }
    document["ddcLog"] = std::move(log);
}

}  // namespace lenticor::sim
