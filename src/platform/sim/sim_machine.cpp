#include "platform/sim/sim_machine.h"

#include "app/monitor_identity.h"
#include "app/text.h"
#include "platform/registry.h"
#include "platform/sim/machine_areas.h"
#include "platform/sim/sim_edid.h"
#include "platform/sim/sim_nvidia.h"
#include "platform/sim/sim_reader.h"
#include "platform/sim/sim_readiness.h"
#include "platform/sim/sim_records.h"

#include <algorithm>
#include <cwchar>
#include <functional>
#include <limits>
#include <set>

namespace lenticor::sim {
namespace {

// DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY by the names a machine file may use.
const std::map<std::string, std::uint32_t>& OutputTechnologies() {
    static const std::map<std::string, std::uint32_t> names = {
        {"other", 0xFFFFFFFFu},
        {"hd15", 0},
        {"dvi", 4},
        {"hdmi", 5},
        {"lvds", 6},
        {"displayport", 10},
        {"internal", 0x80000000u},
        {"displayport_embedded", 11},
        {"miracast", 15},
    };
    return names;
}

constexpr std::uint32_t kTechnologyInternal = 0x80000000u;
constexpr std::uint32_t kTechnologyDisplayPortEmbedded = 11;
constexpr std::uint32_t kTechnologyLvds = 6;

std::uint32_t ReadOutputTechnology(const Reader& reader) {
    if (reader.value().is_string()) {
        const auto& name = reader.value().get_ref<const std::string&>();
        const auto found = OutputTechnologies().find(name);
        if (found == OutputTechnologies().end()) {
            reader.Fail("unknown output technology \"" + name + "\"");
        }
        return found->second;
    }
    return reader.Unsigned32();
}

SimMonitor ReadMonitor(const Reader& reader, const SimMode& mode, std::uint32_t targetId) {
    reader.ExpectObject({"hardwareId", "deviceString", "instanceId", "interfacePath", "edid",
                         "lastArrival", "ddc", "hotPlug", "powerButton"});
    SimMonitor monitor;
    monitor.hardwareId = reader.Member("hardwareId").Text();
    monitor.deviceString =
        reader.Has("deviceString") ? reader.Member("deviceString").Text() : L"Generic PnP Monitor";
    const auto model = nimbo::ModelIdFromHardwareId(monitor.hardwareId);
    monitor.instanceId = reader.Has("instanceId") ? reader.Member("instanceId").Text()
                                                  : L"5&1a2b3c4d&0&UID" + std::to_wstring(targetId);
    if (monitor.instanceId.empty() || monitor.instanceId.find(L'\\') != std::wstring::npos) {
        reader.Member("instanceId").Fail("must be one registry key name");
    }
    monitor.interfacePath = reader.Has("interfacePath")
                                ? reader.Member("interfacePath").Text()
                                : L"\\\\?\\DISPLAY#" + model + L"#" + monitor.instanceId +
                                      L"#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
    // A made-up but stable arrival time: 2024-01-01 UTC in FILETIME ticks,
    // plus the target id so that no two monitors arrived at once.
    constexpr std::uint64_t kArrivalBase = 133485408000000000ull;
    if (reader.Has("lastArrival")) {
        const auto arrival = reader.Member("lastArrival");
        if (!arrival.value().is_number_unsigned() || arrival.value().get<std::uint64_t>() == 0) {
            arrival.Fail("expected a FILETIME, a positive integer");
        }
        monitor.lastArrival = arrival.value().get<std::uint64_t>();
    } else {
        monitor.lastArrival = kArrivalBase + targetId;
    }
    if (reader.Has("ddc")) {
        monitor.ddc = ReadSimDdcMonitor(reader.Member("ddc"));
    }
    reader.Read("powerButton", monitor.powerButton);
    if (reader.Has("edid")) {
        const auto edid = reader.Member("edid");
        if (edid.value().is_null()) {
            monitor.edid.reset();
        } else if (edid.value().is_string()) {
            monitor.edid = edid.HexBytes();
        } else {
            edid.ExpectObject({"name"});
            const auto name = edid.Member("name");
            const auto text = name.Text();
            if (text.size() > 13 || std::any_of(text.begin(), text.end(),
                                                [](wchar_t c) { return c < 0x20 || c > 0x7E; })) {
                name.Fail("an EDID name holds at most 13 printable ASCII characters");
            }
            monitor.edid = BuildEdid(model, std::string(text.begin(), text.end()), mode.width,
                                     mode.height, mode.refreshRate);
        }
    }
    return monitor;
}

SimOutput ReadOutput(const Reader& reader, std::uint32_t sourceId, std::size_t gdiNumber) {
    reader.ExpectObject({"deviceName", "targetId", "outputTechnology", "active", "position",
                         "orientation", "mode", "modes", "monitor", "clones", "faults",
                         "modeChange", "dpi"});
    SimOutput output;
    output.sourceId = sourceId;
    output.deviceName = reader.Has("deviceName") ? reader.Member("deviceName").Text()
                                                 : L"\\\\.\\DISPLAY" + std::to_wstring(gdiNumber);
    output.targetId =
        reader.Has("targetId") ? reader.Member("targetId").Unsigned32() : 4352 + sourceId;
    output.outputTechnology = reader.Has("outputTechnology")
                                  ? ReadOutputTechnology(reader.Member("outputTechnology"))
                                  : 10;
    output.active = reader.Has("active") ? reader.Member("active").Bool() : true;
    if (reader.Has("position")) {
        const auto position = reader.Member("position");
        position.ExpectObject({"x", "y"});
        output.x = position.Member("x").Coordinate();
        output.y = position.Member("y").Coordinate();
    }
    if (reader.Has("orientation")) {
        output.orientation = static_cast<std::uint32_t>(reader.Member("orientation").Integer(0, 3));
    }
    output.mode = ReadSimMode(reader.Member("mode"));
    if (reader.Has("modes")) {
        for (const auto& mode : reader.Member("modes").Array()) {
            output.modes.push_back(ReadSimMode(mode));
        }
    } else {
        output.modes.push_back(output.mode);
    }
    if (reader.Has("monitor") && !reader.Member("monitor").value().is_null()) {
        const auto member = reader.Member("monitor");
        auto monitor = ReadMonitor(member, output.mode, output.targetId);
        bool hotPlug = true;
        member.Read("hotPlug", hotPlug);
        if (hotPlug) {
            output.monitor = std::move(monitor);
        } else if (output.active) {
            member.Member("hotPlug").Fail("a monitor without hot-plug is not on the desktop");
        } else {
            output.asleepUnplugged = std::move(monitor);
        }
    }
    if (reader.Has("clones")) {
        if (!output.monitor) {
            reader.Member("clones").Fail("a source drives further targets only beside its own");
        }
        for (const auto& entry : reader.Member("clones").Array()) {
            entry.ExpectObject({"targetId", "outputTechnology", "monitor"});
            SimCloneTarget clone;
            clone.targetId = entry.Has("targetId")
                                 ? entry.Member("targetId").Unsigned32()
                                 : output.targetId +
                                       0x100 * static_cast<std::uint32_t>(output.clones.size() + 1);
            if (entry.Has("outputTechnology")) {
                clone.outputTechnology = ReadOutputTechnology(entry.Member("outputTechnology"));
            }
            clone.monitor = ReadMonitor(entry.Member("monitor"), output.mode, clone.targetId);
            output.clones.push_back(std::move(clone));
        }
    }
    if (reader.Has("faults")) {
        const auto faults = reader.Member("faults");
        faults.ExpectObject({"GetDesc", "EnumDisplaySettingsW"});
        faults.ReadCode("GetDesc", output.faults.getDesc);
        faults.Read("EnumDisplaySettingsW", output.faults.enumDisplaySettings);
    }
    ReadOutputReadiness(reader, output);
    return output;
}

SimAdapter ReadAdapter(const Reader& reader, std::size_t ordinal, std::size_t& gdiNumber) {
    reader.ExpectObject({"description", "deviceString", "pnpId", "luid", "vendorId", "deviceId",
                         "software", "outputs", "faults"});
    SimAdapter adapter;
    adapter.description = reader.Member("description").Text();
    adapter.deviceString =
        reader.Has("deviceString") ? reader.Member("deviceString").Text() : adapter.description;
    adapter.vendorId = reader.Has("vendorId") ? reader.Member("vendorId").Unsigned32() : 0x1414;
    adapter.deviceId = reader.Has("deviceId") ? reader.Member("deviceId").Unsigned32() : 0x008C;
    if (reader.Has("software") && reader.Member("software").Bool()) {
        adapter.flags = 2;  // DXGI_ADAPTER_FLAG_SOFTWARE
    }
    if (reader.Has("pnpId")) {
        adapter.pnpId = reader.Member("pnpId").Text();
    } else {
        wchar_t pnp[64] = {};
        std::swprintf(pnp, 64, L"PCI\\VEN_%04X&DEV_%04X", adapter.vendorId, adapter.deviceId);
        adapter.pnpId = pnp;
    }
    if (reader.Has("luid")) {
        const auto luid = reader.Member("luid");
        luid.ExpectObject({"low", "high"});
        adapter.luid.LowPart = luid.Member("low").Unsigned32();
        adapter.luid.HighPart = static_cast<std::int32_t>(luid.Member("high").Integer(
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    } else {
        adapter.luid.LowPart = 0x10000 + static_cast<std::uint32_t>(ordinal) * 0x100;
    }
    if (reader.Has("outputs")) {
        std::uint32_t sourceId = 0;
        for (const auto& output : reader.Member("outputs").Array()) {
            adapter.outputs.push_back(ReadOutput(output, sourceId++, ++gdiNumber));
        }
    }
    if (reader.Has("faults")) {
        const auto faults = reader.Member("faults");
        faults.ExpectObject({"GetDesc1", "EnumOutputs"});
        faults.ReadCode("GetDesc1", adapter.faults.getDesc1);
        faults.ReadCode("EnumOutputs", adapter.faults.enumOutputs);
    }
    return adapter;
}

// Plugging a monitor into another connector makes it a new device to
// Windows: a new device instance, whose id ends in the new connector's UID,
// a new driver key under the monitor class, a new interface path and arrival
// time; the target id and adapter LUID are the new connector's
// (https://learn.microsoft.com/en-us/windows-hardware/drivers/install/device-instance-ids).
// Windows has no stored layout for the monitors now connected, so it extends
// the desktop to the right and stores that layout.
void MoveSimMonitor(const Reader& root, SimMachine& machine) {
    const auto reader = root.Member("moveMonitor");
    reader.ExpectObject({"from", "to"});
    const auto place = [&](const char* name) {
        const auto member = reader.Member(name);
        const auto wanted = ToLowerWide(member.Text());
        for (std::size_t a = 0; a < machine.adapters.size(); ++a) {
            for (std::size_t o = 0; o < machine.adapters[a].outputs.size(); ++o) {
                if (ToLowerWide(machine.adapters[a].outputs[o].deviceName) == wanted) {
                    return std::pair{a, o};
                }
            }
        }
        member.Fail("no output has this device name");
    };
    const auto [fromAdapter, fromOutput] = place("from");
    const auto [toAdapter, toOutput] = place("to");
    SimOutput& from = machine.adapters[fromAdapter].outputs[fromOutput];
    SimOutput& to = machine.adapters[toAdapter].outputs[toOutput];
    if ((!from.monitor && !from.asleepUnplugged) || !from.clones.empty()) {
        reader.Member("from").Fail("expected an output with one monitor");
    }
    if (to.monitor || to.asleepUnplugged) {
        reader.Member("to").Fail("expected an empty connector");
    }
    auto described =
        root.value().at("adapters").at(fromAdapter).at("outputs").at(fromOutput).at("monitor");
    if (from.monitor) {
        SimDropHotPlug(machine, from);
    }
    SimMonitor monitor = std::move(*from.asleepUnplugged);
    from.asleepUnplugged.reset();
    const auto model = nimbo::ModelIdFromHardwareId(monitor.hardwareId);
    const auto amp = monitor.instanceId.rfind(L'&');
    monitor.instanceId = (amp == std::wstring::npos ? L"" : monitor.instanceId.substr(0, amp + 1)) +
                         L"UID" + std::to_wstring(to.targetId);
    monitor.interfacePath = L"\\\\?\\DISPLAY#" + model + L"#" + monitor.instanceId +
                            L"#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
    // The next free instance number under the monitor class key.
    const auto driverKey = SimMonitorDriverKey(monitor);
    const auto classEnd = driverKey.rfind(L'\\');
    const auto classKey = driverKey.substr(0, classEnd == std::wstring::npos ? 0 : classEnd + 1);
    // The device left behind keeps its key (Windows keeps non-present devices).
    unsigned long highest = std::wcstoul(driverKey.c_str() + classKey.size(), nullptr, 10);
    std::vector<const SimMonitor*> known;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            for (const auto& slot :
                 {std::cref(output.monitor), std::cref(output.asleepUnplugged)}) {
                if (slot.get()) {
                    known.push_back(&*slot.get());
                }
            }
            for (const auto& clone : output.clones) {
                known.push_back(&clone.monitor);
            }
        }
    }
    for (const auto* each : known) {
        const auto key = SimMonitorDriverKey(*each);
        if (ToLowerWide(key).starts_with(ToLowerWide(classKey))) {
            highest = std::max(highest, std::wcstoul(key.c_str() + classKey.size(), nullptr, 10));
        }
    }
    wchar_t number[16] = {};
    std::swprintf(number, 16, L"%04lu", highest + 1);
    monitor.hardwareId = L"MONITOR\\" + model + L"\\" + classKey + number;
    constexpr std::uint64_t kArrivalStep = 10'000'000;  // one second later
    monitor.lastArrival += kArrivalStep;
    monitor.lastArrivalChanged = true;
    std::int64_t right = 0;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            if (output.active) {
                right = std::max(right, std::int64_t{output.x} + output.mode.width);
            }
        }
    }
    to.active = true;
    to.x = static_cast<std::int32_t>(right);
    to.y = 0;
    to.monitor = std::move(monitor);
    described["hardwareId"] = WideToUtf8(to.monitor->hardwareId);
    described["instanceId"] = WideToUtf8(to.monitor->instanceId);
    described["lastArrival"] = to.monitor->lastArrival;
    for (const char* stale : {"interfacePath", "hotPlug", "powerButton"}) {
        described.erase(stale);
    }
    machine.desktop.moved = SimDesktop::MovedMonitor{toAdapter, toOutput, std::move(described)};
    machine.desktop.database = SimActiveLayout(machine);
    machine.desktop.databaseChanged = true;
    machine.desktop.changed = true;
    machine.ddc.changed = true;
    DeriveSimMonitorKeys(machine);
}

}  // namespace

SimOutput* FindSimOutput(SimMachine& machine, std::wstring_view deviceName) {
    const auto wanted = ToLowerWide(deviceName);
    for (auto& adapter : machine.adapters) {
        for (auto& output : adapter.outputs) {
            if (ToLowerWide(output.deviceName) == wanted) {
                return &output;
            }
        }
    }
    return nullptr;
}

SimTargetPlace FindSimTarget(const SimMachine& machine, nimbo::dcfg::LUID adapterId,
                             std::uint32_t targetId) {
    for (std::size_t a = 0; a < machine.adapters.size(); ++a) {
        if (!SameLuid(machine.adapters[a].luid, adapterId)) {
            continue;
        }
        const auto& outputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            if (outputs[o].targetId == targetId) {
                return {a, o, true};
            }
        }
    }
    return {};
}

std::wstring SimMonitorDriverKey(const SimMonitor& monitor) {
    const auto tail = monitor.hardwareId.find(L'\\', 8);
    return tail == std::wstring::npos ? std::wstring() : monitor.hardwareId.substr(tail + 1);
}

namespace {

SimStopAfterCall ReadStopAfterCall(const Reader& reader) {
    reader.ExpectObject({"call", "as"});
    SimStopAfterCall stop;
    const auto call = reader.Member("call");
    if (!call.value().is_number_unsigned() || call.value().get<std::uint64_t>() == 0) {
        call.Fail("expected a call number from 1");
    }
    stop.call = call.value().get<std::uint64_t>();
    const auto as = reader.Member("as");
    const std::wstring kind = as.Text();
    if (kind == L"powerLoss") {
        stop.as = SimStopKind::PowerLoss;
    } else if (kind != L"kill") {
        as.Fail("expected \"kill\" or \"powerLoss\"");
    }
    return stop;
}

}  // namespace

SimMachine ParseMachine(const nlohmann::json& document) {
    const Reader root(document, "");
    root.ExpectObject({"adapters", "topologyId", "registry", "faults", "desktop", "cameras",
                       "usbDevices", "ddcLog", "nvidia", "fileSystem", "foreground", "restart",
                       "realTimeClock", "displayEvent", "moveMonitor", "countPortCalls",
                       "portCalls", "stopAfterCall"});
    SimMachine machine;
    std::size_t gdiNumber = 0;
    std::set<std::wstring> deviceNames;
    const auto adapters = root.Member("adapters").Array();
    for (std::size_t a = 0; a < adapters.size(); ++a) {
        machine.adapters.push_back(ReadAdapter(adapters[a], a, gdiNumber));
        const auto& outputs = machine.adapters.back().outputs;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            if (!deviceNames.insert(ToLowerWide(outputs[o].deviceName)).second) {
                adapters[a].Member("outputs").Element(o).Fail("device name used twice");
            }
        }
    }
    if (root.Has("topologyId")) {
        machine.topologyId = root.Member("topologyId").Unsigned32();
    }
    if (root.Has("faults")) {
        const auto faults = root.Member("faults");
        faults.ExpectObject({"CreateDXGIFactory1", "GetDisplayConfigBufferSizes",
                             "QueryDisplayConfig", "DisplayConfigGetDeviceInfo", "CoInitializeEx",
                             "CoCreateInstance", "deviceIdListChanges", "RegFlushKey"});
        faults.ReadCode("CoInitializeEx", machine.faults.coInitializeEx);
        faults.ReadCode("CoCreateInstance", machine.faults.coCreateInstance);
        faults.Read("deviceIdListChanges", machine.faults.deviceIdListChanges);
        faults.ReadCode("RegFlushKey", machine.faults.regFlushKey);
        faults.ReadCode("CreateDXGIFactory1", machine.faults.createDxgiFactory1);
        faults.ReadCode("GetDisplayConfigBufferSizes", machine.faults.getDisplayConfigBufferSizes);
        faults.ReadCode("QueryDisplayConfig", machine.faults.queryDisplayConfig);
        faults.ReadCode("DisplayConfigGetDeviceInfo", machine.faults.displayConfigGetDeviceInfo);
    }
    root.Read("countPortCalls", machine.countPortCalls);
    if (root.Has("stopAfterCall")) {
        machine.stopAfterCall = ReadStopAfterCall(root.Member("stopAfterCall"));
    }
    DeriveSimMonitorKeys(machine);
    for (const auto& area : MachineAreas()) {
        area.read(root, machine);
    }
    if (root.Has("moveMonitor")) {
        MoveSimMonitor(root, machine);
    }
    PressSimPowerButtons(machine);
    if (root.Has("restart") && root.Member("restart").Bool()) {
        RestartSimMachine(machine);
    } else if (root.Has("displayEvent") && root.Member("displayEvent").Bool()) {
        ApplySimStoredLayout(machine);
        machine.desktop.displayEvent = true;
    }
    return machine;
}

std::uint32_t CurrentTopologyId(const SimMachine& machine) {
    if (machine.topologyId) {
        return *machine.topologyId;
    }
    // Targets, not sources, decide: one source driving two monitors is a
    // duplicated desktop just as two sources at one rectangle are.
    std::vector<const SimOutput*> active;
    std::size_t targets = 0;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            if (output.active) {
                active.push_back(&output);
                targets += 1 + output.clones.size();
            }
        }
    }
    if (targets == 1) {
        const auto technology = active.front()->outputTechnology;
        const bool internal = technology == kTechnologyInternal ||
                              technology == kTechnologyDisplayPortEmbedded ||
                              technology == kTechnologyLvds;
        return internal ? 0x1 : 0x8;
    }
    for (std::size_t i = 1; i < active.size(); ++i) {
        const auto& a = *active.front();
        const auto& b = *active[i];
        if (a.x != b.x || a.y != b.y || a.mode.width != b.mode.width ||
            a.mode.height != b.mode.height) {
            return 0x4;
        }
    }
    return active.empty() ? 0x4 : 0x2;
}

}  // namespace lenticor::sim
