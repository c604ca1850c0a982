#include "platform/sim/sim_ddc.h"

#include "app/text.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_reader.h"

#include <cstdio>

// The "ddc" member of a monitor and the run's transaction log, as the
// machine file holds them.
namespace lenticor::sim {
namespace {

constexpr std::int64_t kMillisecond = SimDdcBus::kMillisecond;
constexpr std::uint8_t kVcpPower = 0xD6;
constexpr std::uint32_t kPowerOffLast = 5;          // MCCS: 02 standby .. 05 power off
constexpr std::uint32_t kVcpValueMaximum = 0xFFFF;  // DDC/CI carries 16-bit values

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

}  // namespace

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
