#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "app/monitor_identity.h"
#include "app/text.h"
#include "platform/sim/sim_machine.h"

namespace lenticor::sim {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
    throw MachineError(where + ": " + problem);
}

std::wstring TextAt(const Json& value, const std::string& where) {
    if (!value.is_string())
        Fail(where, "expected a string");
    auto wide = Utf8ToWideStrict(value.get_ref<const std::string&>());
    if (!wide)
        Fail(where, "invalid UTF-8");
    return *wide;
}

std::uint32_t UnsignedAt(const Json& value, const std::string& where) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFu)
        Fail(where, "expected an unsigned 32-bit integer");
    return value.get<std::uint32_t>();
}

void ExpectMembers(const Json& value, const std::string& where,
                   std::initializer_list<const char*> allowed) {
    if (!value.is_object())
        Fail(where, "expected an object");
    for (const auto& item : value.items()) {
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const char* name) { return item.key() == name; }))
            Fail(where + "/" + item.key(), "unknown member");
    }
}

bool BoolAt(const Json& value, const std::string& where) {
    if (!value.is_boolean())
        Fail(where, "expected true or false");
    return value.get<bool>();
}

std::int32_t CoordinateAt(const Json& value, const std::string& where) {
    if (!value.is_number_integer() ||
        value.get<std::int64_t>() < std::numeric_limits<std::int32_t>::min() ||
        value.get<std::int64_t>() > std::numeric_limits<std::int32_t>::max())
        Fail(where, "expected a signed 32-bit integer");
    return value.get<std::int32_t>();
}

std::vector<SimPersistedDisplay> ReadDatabase(const Json& value, const std::string& where) {
    if (!value.is_array())
        Fail(where, "expected an array");
    std::vector<SimPersistedDisplay> layout;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Json& item = value[i];
        const std::string at = where + "/" + std::to_string(i);
        ExpectMembers(item, at, {"output", "position", "mode"});
        if (!item.contains("output") || !item.contains("position") || !item.contains("mode"))
            Fail(at, "expected output, position and mode");
        SimPersistedDisplay display;
        display.output = TextAt(item.at("output"), at + "/output");
        const Json& position = item.at("position");
        ExpectMembers(position, at + "/position", {"x", "y"});
        if (!position.contains("x") || !position.contains("y"))
            Fail(at + "/position", "expected x and y");
        display.x = CoordinateAt(position.at("x"), at + "/position/x");
        display.y = CoordinateAt(position.at("y"), at + "/position/y");
        const Json& mode = item.at("mode");
        ExpectMembers(mode, at + "/mode", {"width", "height", "refreshRate", "bitsPerPixel"});
        if (!mode.contains("width") || !mode.contains("height") || !mode.contains("refreshRate"))
            Fail(at + "/mode", "expected width, height and refreshRate");
        display.width = UnsignedAt(mode.at("width"), at + "/mode/width");
        display.height = UnsignedAt(mode.at("height"), at + "/mode/height");
        display.refreshRate = UnsignedAt(mode.at("refreshRate"), at + "/mode/refreshRate");
        if (mode.contains("bitsPerPixel"))
            display.bitsPerPixel = UnsignedAt(mode.at("bitsPerPixel"), at + "/mode/bitsPerPixel");
        layout.push_back(std::move(display));
    }
    return layout;
}

Json DatabaseJson(const std::vector<SimPersistedDisplay>& layout) {
    Json stored = Json::array();
    for (const auto& display : layout) {
        stored.push_back({{"output", WideToUtf8(display.output)},
                          {"position", {{"x", display.x}, {"y", display.y}}},
                          {"mode",
                           {{"width", display.width},
                            {"height", display.height},
                            {"refreshRate", display.refreshRate},
                            {"bitsPerPixel", display.bitsPerPixel}}}});
    }
    return stored;
}
}  // namespace

std::vector<SimPersistedDisplay> SimActiveLayout(const SimMachine& machine) {
    std::vector<SimPersistedDisplay> layout;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            if (output.active)
                layout.push_back({output.deviceName, output.x, output.y, output.mode.width,
                                  output.mode.height, output.mode.refreshRate,
                                  output.mode.bitsPerPixel});
        }
    }
    return layout;
}

SimDesktop ParseSimDesktop(const Json* desktop, const SimMachine& machine) {
    SimDesktop result;
    result.database = SimActiveLayout(machine);
    if (desktop == nullptr)
        return result;
    const std::string where = "/desktop";
    ExpectMembers(*desktop, where, {"faults", "displaysOffRequests", "database", "sessionLocked"});
    if (desktop->contains("sessionLocked"))
        result.sessionLocked = BoolAt(desktop->at("sessionLocked"), where + "/sessionLocked");
    if (desktop->contains("displaysOffRequests"))
        result.displaysOffRequests =
            UnsignedAt(desktop->at("displaysOffRequests"), where + "/displaysOffRequests");
    if (desktop->contains("database"))
        result.database = ReadDatabase(desktop->at("database"), where + "/database");
    if (!desktop->contains("faults"))
        return result;
    const Json& faults = desktop->at("faults");
    const std::string at = where + "/faults";
    ExpectMembers(faults, at,
                  {"queryChanges", "queryDelayMs", "unreadableTargetName", "validate", "apply",
                   "applyIgnored", "rearrangeOnApply", "driverKeyMismatch", "unplug",
                   "registerClass", "createWindow"});
    auto& f = result.faults;
    if (faults.contains("queryChanges"))
        f.queryChanges = UnsignedAt(faults.at("queryChanges"), at + "/queryChanges");
    if (faults.contains("queryDelayMs"))
        f.queryDelayMs = UnsignedAt(faults.at("queryDelayMs"), at + "/queryDelayMs");
    if (faults.contains("unreadableTargetName"))
        f.unreadableTargetName =
            TextAt(faults.at("unreadableTargetName"), at + "/unreadableTargetName");
    if (faults.contains("driverKeyMismatch"))
        f.driverKeyMismatch = TextAt(faults.at("driverKeyMismatch"), at + "/driverKeyMismatch");
    const std::pair<const char*, bool*> switches[] = {{"applyIgnored", &f.applyIgnored},
                                                      {"rearrangeOnApply", &f.rearrangeOnApply}};
    for (const auto& [name, slot] : switches) {
        if (faults.contains(name))
            *slot = BoolAt(faults.at(name), at + "/" + name);
    }
    const std::pair<const char*, std::optional<Win32Error>*> codes[] = {
        {"validate", &f.validate},
        {"apply", &f.apply},
        {"registerClass", &f.registerClass},
        {"createWindow", &f.createWindow}};
    for (const auto& [name, slot] : codes) {
        if (faults.contains(name))
            *slot = static_cast<Win32Error>(UnsignedAt(faults.at(name), at + "/" + name));
    }
    if (faults.contains("unplug")) {
        const Json& unplug = faults.at("unplug");
        ExpectMembers(unplug, at + "/unplug", {"output", "afterQueries"});
        if (!unplug.contains("output") || !unplug.contains("afterQueries"))
            Fail(at + "/unplug", "expected output and afterQueries");
        f.unplug = SimDesktopFaults::Unplug{
            TextAt(unplug.at("output"), at + "/unplug/output"),
            UnsignedAt(unplug.at("afterQueries"), at + "/unplug/afterQueries")};
    }
    return result;
}

void RestartSimMachine(SimMachine& machine) {
    // An adapter LUID changes whenever the system restarts
    // (https://learn.microsoft.com/en-us/windows-hardware/drivers/ddi/d3dkmthk/ns-d3dkmthk-_d3dkmt_adapterinfo).
    constexpr std::uint32_t kLuidStepPerBoot = 0x2000;
    for (auto& adapter : machine.adapters)
        adapter.luid.LowPart += kLuidStepPerBoot;
    ApplySimStoredLayout(machine);
    machine.desktop.restarted = true;
}

// Windows looks the connected monitors up in its display database and sets
// up the layout stored for them, whatever the session had applied without
// SDC_SAVE_TO_DATABASE
// (https://learn.microsoft.com/en-us/windows-hardware/drivers/display/connecting-and-configuring-displays).
void ApplySimStoredLayout(SimMachine& machine) {
    for (auto& adapter : machine.adapters) {
        for (auto& output : adapter.outputs)
            output.active = false;
    }
    for (const auto& persisted : machine.desktop.database) {
        SimOutput* output = FindSimOutput(machine, persisted.output);
        if (output == nullptr || !output->monitor)
            continue;  // nothing to show the stored layout on
        output->active = true;
        output->x = persisted.x;
        output->y = persisted.y;
        output->mode = {persisted.width, persisted.height, persisted.refreshRate,
                        persisted.bitsPerPixel};
    }
    machine.desktop.changed = true;
}

// A DisplayPort monitor that drops its hot-plug signal in standby looks to
// Windows like one unplugged, and Windows "removes and rearranges the
// displays" (https://github.com/MicrosoftDocs/windows-driver-docs/issues/575,
// https://github.com/microsoft/PowerToys/issues/3217). Where the others go is
// not documented; the simulation takes the harsher reading: the space the
// display leaves is closed, and the first display that remains takes the
// origin when the primary left. A result that would overlap keeps the
// positions.
void SimDropHotPlug(SimMachine& machine, SimOutput& gone) {
    if (gone.active) {
        const std::int64_t left = gone.x;
        const std::int64_t top = gone.y;
        const std::int64_t right = left + gone.mode.width;
        const std::int64_t bottom = top + gone.mode.height;
        std::vector<SimOutput*> rest;
        for (auto& adapter : machine.adapters) {
            for (auto& output : adapter.outputs) {
                if (output.active && &output != &gone)
                    rest.push_back(&output);
            }
        }
        std::vector<std::pair<std::int64_t, std::int64_t>> moved;
        std::size_t origin = 0;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            const SimOutput& p = *rest[i];
            std::int64_t x = p.x;
            std::int64_t y = p.y;
            if (p.x >= right && p.y < bottom && top < std::int64_t{p.y} + p.mode.height)
                x -= gone.mode.width;
            else if (p.y >= bottom && p.x < right && left < std::int64_t{p.x} + p.mode.width)
                y -= gone.mode.height;
            if (p.x == 0 && p.y == 0)
                origin = i;
            moved.emplace_back(x, y);
        }
        const auto shift = rest.empty() ? std::pair<std::int64_t, std::int64_t>{} : moved[origin];
        for (auto& [x, y] : moved) {
            x -= shift.first;
            y -= shift.second;
        }
        bool fits = true;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            for (std::size_t j = i + 1; j < rest.size(); ++j) {
                const auto& a = moved[i];
                const auto& b = moved[j];
                fits = fits &&
                       !(std::max(a.first, b.first) < std::min(a.first + rest[i]->mode.width,
                                                               b.first + rest[j]->mode.width) &&
                         std::max(a.second, b.second) < std::min(a.second + rest[i]->mode.height,
                                                                 b.second + rest[j]->mode.height));
            }
        }
        for (std::size_t i = 0; fits && i < rest.size(); ++i) {
            rest[i]->x = static_cast<std::int32_t>(moved[i].first);
            rest[i]->y = static_cast<std::int32_t>(moved[i].second);
        }
    }
    gone.active = false;
    ++gone.monitorGeneration;
    gone.asleepUnplugged = std::move(gone.monitor);
    gone.monitor.reset();
    machine.desktop.changed = true;
    machine.ddc.changed = true;
}

void PressSimPowerButtons(SimMachine& machine) {
    // A replug is a new arrival; a second later keeps it predictable. The
    // monitor comes back on the same connector, so Windows finds the same
    // device instance and driver key again.
    constexpr std::uint64_t kArrivalStep = 10'000'000;
    constexpr std::uint8_t kVcpPower = 0xD6;
    bool arrived = false;
    for (auto& adapter : machine.adapters) {
        for (auto& output : adapter.outputs) {
            auto& slot = output.asleepUnplugged ? output.asleepUnplugged : output.monitor;
            if (!slot || !slot->powerButton)
                continue;
            machine.desktop.buttonsPressed = true;
            machine.desktop.changed = true;
            if (slot->ddc && slot->ddc->vcp.contains(kVcpPower)) {
                // The button wakes a sleeping monitor and switches one that
                // is on off, with MCCS 05, the power off of its own switch.
                auto& power = slot->ddc->vcp[kVcpPower].current;
                const bool asleep = power >= 2 && power <= 5;
                power = output.asleepUnplugged || asleep ? 1 : 5;
                machine.ddc.changed = true;
            }
            if (output.asleepUnplugged) {
                output.monitor = std::move(output.asleepUnplugged);
                output.asleepUnplugged.reset();
                output.monitor->lastArrival += kArrivalStep;
                output.monitor->lastArrivalChanged = true;
                machine.ddc.changed = true;
                arrived = true;
            }
        }
    }
    if (arrived)
        ApplySimStoredLayout(machine);
}

void StoreSimDesktop(const SimMachine& machine, Json& document) {
    auto& adapters = document["adapters"];
    if (const auto& moved = machine.desktop.moved) {
        adapters[moved->adapter]["outputs"][moved->output]["monitor"] = moved->monitor;
        document.erase("moveMonitor");
    }
    for (std::size_t a = 0; a < machine.adapters.size() && a < adapters.size(); ++a) {
        auto& outputs = adapters[a]["outputs"];
        const auto& simOutputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < simOutputs.size() && o < outputs.size(); ++o) {
            const SimOutput& output = simOutputs[o];
            Json& stored = outputs[o];
            stored["active"] = output.active;
            stored["position"] = {{"x", output.x}, {"y", output.y}};
            stored["mode"] = {{"width", output.mode.width},
                              {"height", output.mode.height},
                              {"refreshRate", output.mode.refreshRate},
                              {"bitsPerPixel", output.mode.bitsPerPixel}};
            Json* monitor = stored.contains("monitor") && stored["monitor"].is_object()
                                ? &stored["monitor"]
                                : nullptr;
            if (output.asleepUnplugged && monitor != nullptr)
                (*monitor)["hotPlug"] = false;
            else if (!output.monitor && stored.contains("monitor"))
                stored["monitor"] = nullptr;
            else if (monitor != nullptr)
                monitor->erase("hotPlug");
            if (machine.desktop.buttonsPressed && monitor != nullptr)
                monitor->erase("powerButton");
        }
    }
    if (machine.desktop.displaysOffRequests > 0 || document.contains("desktop"))
        document["desktop"]["displaysOffRequests"] = machine.desktop.displaysOffRequests;
    // Once the desktop differs from what the machine was described with, the
    // database has to be written down or the next restart would lose it.
    const bool described = document.contains("desktop") && document["desktop"].contains("database");
    if (machine.desktop.databaseChanged || (machine.desktop.changed && !described))
        document["desktop"]["database"] = DatabaseJson(machine.desktop.database);
    if (machine.desktop.displayEvent || machine.desktop.restarted)
        document.erase("displayEvent");
    if (machine.desktop.restarted) {
        document.erase("restart");
        for (std::size_t a = 0; a < machine.adapters.size() && a < adapters.size(); ++a) {
            const auto luid = machine.adapters[a].luid;
            adapters[a]["luid"] = {{"low", luid.LowPart}, {"high", luid.HighPart}};
        }
    }
}

std::optional<Win32Error> SimBeforeQuery(SimMachine& machine) {
    auto& desktop = machine.desktop;
    if (desktop.faults.queryDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(desktop.faults.queryDelayMs));
    if (desktop.changesReported < desktop.faults.queryChanges) {
        ++desktop.changesReported;
        return kErrorInsufficientBuffer;
    }
    // The monitor goes between the sizing and the query, so the answer
    // already shows its target inactive and without a monitor
    // (targetAvailable 0), as every later view does; the space the buffers
    // were sized for is enough for the smaller desktop.
    const auto& unplug = desktop.faults.unplug;
    if (unplug && desktop.successfulQueries >= unplug->afterQueries) {
        SimOutput* output = FindSimOutput(machine, unplug->output);
        if (output != nullptr && output->monitor) {
            output->monitor.reset();
            output->active = false;
            desktop.changed = true;
        }
    }
    return std::nullopt;
}

void SimAfterQuery(SimMachine& machine) {
    ++machine.desktop.successfulQueries;
}

bool SimTargetNameUnreadable(const SimMachine& machine, nimbo::dcfg::LUID adapterId,
                             std::uint32_t targetId) {
    const auto& unreadable = machine.desktop.faults.unreadableTargetName;
    if (!unreadable)
        return false;
    const SimTargetPlace found = FindSimTarget(machine, adapterId, targetId);
    return found.found &&
           ToLowerWide(machine.adapters[found.adapter].outputs[found.output].deviceName) ==
               ToLowerWide(*unreadable);
}
}  // namespace lenticor::sim
