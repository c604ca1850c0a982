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

using nimbo::dcfg::DISPLAYCONFIG_MODE_INFO;
using nimbo::dcfg::DISPLAYCONFIG_PATH_INFO;
using Json = nlohmann::json;

constexpr std::uint32_t kValidateFlags = 0x60;
constexpr std::uint32_t kApplyFlags = 0xA0;
constexpr std::uint32_t kSaveToDatabase = 0x200;  // SDC_SAVE_TO_DATABASE

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

bool SameLuid(nimbo::dcfg::LUID a, nimbo::dcfg::LUID b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

struct Found {
    std::size_t adapter = 0;
    std::size_t output = 0;
    bool found = false;
};

Found FindTarget(const SimMachine& machine, nimbo::dcfg::LUID adapterId, std::uint32_t targetId) {
    for (std::size_t a = 0; a < machine.adapters.size(); ++a) {
        if (!SameLuid(machine.adapters[a].luid, adapterId))
            continue;
        const auto& outputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            if (outputs[o].targetId == targetId)
                return {a, o, true};
        }
    }
    return {};
}

std::uint32_t BitsOf(std::uint32_t pixelFormat) {
    return pixelFormat >= 1 && pixelFormat <= 4 ? pixelFormat * 8 : 0;
}

// What the device tree knows of a plugged-in monitor.
struct DeviceNode {
    const SimOutput* output = nullptr;
    const SimMonitor* monitor = nullptr;
    std::wstring instanceId;  // DISPLAY\<model>\<instance>
    std::wstring driverKey;
    std::uint64_t arrival = 0;
};

std::vector<DeviceNode> DeviceTree(const SimMachine& machine) {
    std::vector<DeviceNode> nodes;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            std::vector<const SimMonitor*> monitors;
            if (output.monitor)
                monitors.push_back(&*output.monitor);
            for (const auto& clone : output.clones)
                monitors.push_back(&clone.monitor);
            for (const SimMonitor* each : monitors) {
                const auto& monitor = *each;
                DeviceNode node;
                node.output = &output;
                node.monitor = each;
                node.instanceId = L"DISPLAY\\" + nimbo::ModelIdFromHardwareId(monitor.hardwareId) +
                                  L"\\" + monitor.instanceId;
                const auto tail = monitor.hardwareId.find(L'\\', 8);
                node.driverKey = tail == std::wstring::npos ? std::wstring()
                                                            : monitor.hardwareId.substr(tail + 1);
                const auto& broken = machine.desktop.faults.driverKeyMismatch;
                if (broken && ToLowerWide(*broken) == ToLowerWide(output.deviceName))
                    node.driverKey += L"0";
                node.arrival = monitor.lastArrival;
                nodes.push_back(std::move(node));
            }
        }
    }
    return nodes;
}

ConfigRet WriteBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t valueType,
                     std::uint32_t& type, std::span<std::uint8_t> buffer, std::uint32_t& size) {
    type = valueType;
    const std::uint32_t needed = static_cast<std::uint32_t>(bytes.size());
    if (needed > size || needed > buffer.size()) {
        size = needed;
        return kCrBufferSmall;
    }
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    size = needed;
    return kCrSuccess;
}

ConfigRet WriteString(std::wstring_view text, std::uint32_t& type, std::span<std::uint8_t> buffer,
                      std::uint32_t& size) {
    std::vector<std::uint8_t> bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    bytes.insert(bytes.end(), {0, 0});
    return WriteBytes(bytes, kDevPropTypeString, type, buffer, size);
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

std::vector<SimPersistedDisplay> PersistedLayout(const SimMachine& machine) {
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

struct Placement {
    Found where;
    std::int32_t x, y;
    SimMode mode;
};

bool Overlap(const Placement& a, const Placement& b) {
    const std::int64_t left = std::max<std::int64_t>(a.x, b.x);
    const std::int64_t right =
        std::min<std::int64_t>(std::int64_t{a.x} + a.mode.width, std::int64_t{b.x} + b.mode.width);
    const std::int64_t top = std::max<std::int64_t>(a.y, b.y);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{a.y} + a.mode.height,
                                                       std::int64_t{b.y} + b.mode.height);
    return left < right && top < bottom;
}

// GDI may move source surfaces of a supplied layout, in a way Microsoft leaves
// undefined (https://learn.microsoft.com/en-us/windows-hardware/drivers/display/desktop-layout).
// The simulated rearrangement closes the space a display taken off the
// desktop leaves: surfaces wholly beyond it in its rows move left by its
// width, those wholly below it in its columns move up by its height, and the
// primary stays at (0, 0). A result that would overlap is not applied.
void CloseRemovedSpace(const SimMachine& machine, std::vector<Placement>& placements) {
    const auto current = [&](const Placement& p) -> const SimOutput& {
        return machine.adapters[p.where.adapter].outputs[p.where.output];
    };
    // The supplied layout may be shifted as a whole against the current one
    // (a new primary); the removed displays are placed in the supplied frame.
    const Placement& anchor = placements.front();
    if (!current(anchor).active)
        return;
    const std::int64_t dx = std::int64_t{anchor.x} - current(anchor).x;
    const std::int64_t dy = std::int64_t{anchor.y} - current(anchor).y;
    std::vector<Placement> moved = placements;
    for (std::size_t a = 0; a < machine.adapters.size(); ++a) {
        const auto& outputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            const SimOutput& gone = outputs[o];
            if (!gone.active ||
                std::any_of(placements.begin(), placements.end(), [&](const Placement& p) {
                    return p.where.adapter == a && p.where.output == o;
                }))
                continue;
            const std::int64_t left = gone.x + dx;
            const std::int64_t top = gone.y + dy;
            const std::int64_t right = left + gone.mode.width;
            const std::int64_t bottom = top + gone.mode.height;
            for (std::size_t i = 0; i < placements.size(); ++i) {
                const Placement& p = placements[i];
                const std::int64_t pRight = std::int64_t{p.x} + p.mode.width;
                const std::int64_t pBottom = std::int64_t{p.y} + p.mode.height;
                if (p.x >= right && p.y < bottom && top < pBottom)
                    moved[i].x -= static_cast<std::int32_t>(gone.mode.width);
                else if (p.y >= bottom && p.x < right && left < pRight)
                    moved[i].y -= static_cast<std::int32_t>(gone.mode.height);
            }
        }
    }
    const auto primary = std::find_if(placements.begin(), placements.end(),
                                      [](const Placement& p) { return p.x == 0 && p.y == 0; });
    const Placement origin = moved[static_cast<std::size_t>(primary - placements.begin())];
    for (auto& p : moved) {
        p.x -= origin.x;
        p.y -= origin.y;
    }
    for (std::size_t i = 0; i < moved.size(); ++i) {
        for (std::size_t j = i + 1; j < moved.size(); ++j) {
            if (Overlap(moved[i], moved[j]))
                return;
        }
    }
    placements = std::move(moved);
}

}  // namespace

SimDesktop ParseSimDesktop(const Json* desktop, const SimMachine& machine) {
    SimDesktop result;
    result.database = PersistedLayout(machine);
    if (desktop == nullptr)
        return result;
    const std::string where = "/desktop";
    ExpectMembers(*desktop, where, {"faults", "displaysOffRequests", "database"});
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
    machine.desktop.restarted = true;
    machine.desktop.changed = true;
}

void StoreSimDesktop(const SimMachine& machine, Json& document) {
    auto& adapters = document["adapters"];
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
            if (!output.monitor && stored.contains("monitor"))
                stored["monitor"] = nullptr;
        }
    }
    if (machine.desktop.displaysOffRequests > 0 || document.contains("desktop"))
        document["desktop"]["displaysOffRequests"] = machine.desktop.displaysOffRequests;
    // Once the desktop differs from what the machine was described with, the
    // database has to be written down or the next restart would lose it.
    const bool described = document.contains("desktop") && document["desktop"].contains("database");
    if (machine.desktop.databaseChanged || (machine.desktop.changed && !described))
        document["desktop"]["database"] = DatabaseJson(machine.desktop.database);
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
    const Found found = FindTarget(machine, adapterId, targetId);
    return found.found &&
           ToLowerWide(machine.adapters[found.adapter].outputs[found.output].deviceName) ==
               ToLowerWide(*unreadable);
}

Win32Error SimSetDisplayConfig(SimMachine& machine, std::span<const DISPLAYCONFIG_PATH_INFO> paths,
                               std::span<const DISPLAYCONFIG_MODE_INFO> modes,
                               std::uint32_t flags) {
    if (flags != kValidateFlags && flags != kApplyFlags && flags != (kApplyFlags | kSaveToDatabase))
        return kErrorInvalidParameter;  // other combinations are not simulated
    const auto& fault =
        flags == kValidateFlags ? machine.desktop.faults.validate : machine.desktop.faults.apply;
    if (fault)
        return *fault;
    if (paths.empty())
        return kErrorInvalidParameter;

    std::vector<Placement> placements;
    for (const auto& path : paths) {
        if ((path.flags & nimbo::dcfg::kPathActiveFlag) == 0 ||
            (path.flags & nimbo::dcfg::kPathSupportVirtualModeFlag) != 0 ||
            !SameLuid(path.sourceInfo.adapterId, path.targetInfo.adapterId))
            return kErrorInvalidParameter;
        const Found where = FindTarget(machine, path.targetInfo.adapterId, path.targetInfo.id);
        if (!where.found)
            return kErrorInvalidParameter;
        const SimOutput& output = machine.adapters[where.adapter].outputs[where.output];
        // Each output has its own source here; a target is not moved to another.
        if (!output.monitor || path.sourceInfo.id != output.sourceId)
            return kErrorInvalidParameter;
        for (const auto& other : placements) {
            if (other.where.adapter == where.adapter && other.where.output == where.output)
                return kErrorInvalidParameter;  // one source (and target) in two paths
        }
        const auto sourceIndex = path.sourceInfo.modeInfoIdx;
        if (sourceIndex >= modes.size() ||
            modes[sourceIndex].infoType != nimbo::dcfg::kModeInfoTypeSource ||
            modes[sourceIndex].id != path.sourceInfo.id ||
            !SameLuid(modes[sourceIndex].adapterId, path.sourceInfo.adapterId))
            return kErrorInvalidParameter;
        const auto& source = modes[sourceIndex].sourceMode;
        SimMode mode{source.width, source.height, output.mode.refreshRate,
                     BitsOf(source.pixelFormat)};
        const auto targetIndex = path.targetInfo.modeInfoIdx;
        if (targetIndex != nimbo::dcfg::kInvalidModeIndex) {
            if (targetIndex >= modes.size() ||
                modes[targetIndex].infoType != nimbo::dcfg::kModeInfoTypeTarget ||
                modes[targetIndex].id != path.targetInfo.id ||
                !SameLuid(modes[targetIndex].adapterId, path.targetInfo.adapterId))
                return kErrorInvalidParameter;
            const auto& vsync = modes[targetIndex].targetMode.targetVideoSignalInfo.vSyncFreq;
            if (vsync.Denominator == 0)
                return kErrorInvalidParameter;
            mode.refreshRate = vsync.Numerator / vsync.Denominator;
        }
        const auto offered = [&](const SimMode& m) {
            return m.width == mode.width && m.height == mode.height &&
                   m.refreshRate == mode.refreshRate;
        };
        if (mode.bitsPerPixel == 0 ||
            (!offered(output.mode) &&
             std::none_of(output.modes.begin(), output.modes.end(), offered)))
            return kErrorInvalidParameter;
        placements.push_back({where, source.position.x, source.position.y, mode});
    }
    // One desktop: nothing overlaps, and the primary sits at the origin.
    bool origin = false;
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const auto& a = placements[i];
        origin = origin || (a.x == 0 && a.y == 0);
        for (std::size_t j = i + 1; j < placements.size(); ++j) {
            if (Overlap(a, placements[j]))
                return kErrorInvalidParameter;
        }
    }
    if (!origin)
        return kErrorInvalidParameter;
    if (flags == kValidateFlags)
        return kErrorSuccess;

    if (machine.desktop.faults.applyIgnored)
        return kErrorSuccess;
    if (machine.desktop.faults.rearrangeOnApply)
        CloseRemovedSpace(machine, placements);

    for (auto& adapter : machine.adapters) {
        for (auto& output : adapter.outputs)
            output.active = false;
    }
    for (const auto& placement : placements) {
        SimOutput& output =
            machine.adapters[placement.where.adapter].outputs[placement.where.output];
        output.active = true;
        output.x = placement.x;
        output.y = placement.y;
        output.mode = placement.mode;
    }
    machine.desktop.changed = true;
    // Only SDC_SAVE_TO_DATABASE stores the result in the database Windows
    // sets up at boot; without it the change lasts until the next restart
    // (https://learn.microsoft.com/en-us/windows/win32/api/winuser/nf-winuser-setdisplayconfig).
    if ((flags & kSaveToDatabase) != 0) {
        machine.desktop.database = PersistedLayout(machine);
        machine.desktop.databaseChanged = true;
    }
    return kErrorSuccess;
}

// Adapter and output in the low bytes, the output's re-enumeration count
// above them: a display keeps its HMONITOR while it stays on the desktop and
// gets a new one when it comes back
// (https://learn.microsoft.com/en-us/windows/win32/gdi/hmonitor-and-the-device-context).
MonitorHandle SimMonitorHandle(const SimMachine& machine, std::size_t adapter, std::size_t output) {
    const auto generation = machine.adapters[adapter].outputs[output].monitorGeneration;
    return (MonitorHandle{generation} << 16) | ((adapter + 1) << 8) | (output + 1);
}

SimOutput* SimOutputOfMonitor(SimMachine& machine, MonitorHandle monitor, std::size_t* adapter,
                              std::size_t* output) {
    const std::size_t a = ((monitor >> 8) & 0xFF) - 1;
    const std::size_t o = (monitor & 0xFF) - 1;
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

ConfigRet SimConfigManager::GetDeviceInterfaceProperty(std::wstring_view interfacePath,
                                                       DeviceProperty key, std::uint32_t& type,
                                                       std::span<std::uint8_t> buffer,
                                                       std::uint32_t& size) {
    const std::wstring wanted = ToLowerWide(interfacePath);
    for (const auto& node : DeviceTree(machine_)) {
        if (ToLowerWide(node.monitor->interfacePath) != wanted)
            continue;
        if (key != DeviceProperty::InstanceId)
            return kCrNoSuchValue;
        return WriteString(node.instanceId, type, buffer, size);
    }
    return kCrNoSuchDeviceInterface;
}

// Monitor nodes are numbered from 1, USB devices from kUsbDevInstBase.
constexpr DevInst kUsbDevInstBase = 0x10000;
// CM_LOCATE_DEVNODE_PHANTOM: also a device that is not present. See
// https://learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_locate_devnodew
constexpr std::uint32_t kCmLocateDevNodePhantom = 0x1;

ConfigRet SimConfigManager::LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                                          std::uint32_t flags) {
    if (flags != kCmLocateDevNodeNormal && flags != kCmLocateDevNodePhantom)
        return kCrNoSuchDevnode;  // other lookups are not simulated
    const auto nodes = DeviceTree(machine_);
    const std::wstring wanted = ToLowerWide(instanceId);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (ToLowerWide(nodes[i].instanceId) == wanted) {
            devInst = static_cast<DevInst>(i + 1);
            return kCrSuccess;
        }
    }
    for (std::size_t i = 0; i < machine_.usbDevices.size(); ++i) {
        const auto& device = machine_.usbDevices[i];
        if (ToLowerWide(device.instanceId) == wanted &&
            (device.present || flags == kCmLocateDevNodePhantom)) {
            devInst = kUsbDevInstBase + static_cast<DevInst>(i);
            return kCrSuccess;
        }
    }
    return kCrNoSuchDevnode;
}

ConfigRet SimConfigManager::GetDevNodeProperty(DevInst devInst, DeviceProperty key,
                                               std::uint32_t& type, std::span<std::uint8_t> buffer,
                                               std::uint32_t& size) {
    if (devInst >= kUsbDevInstBase) {
        const std::size_t index = devInst - kUsbDevInstBase;
        if (index >= machine_.usbDevices.size())
            return kCrNoSuchDevnode;
        const SimUsbDevice& device = machine_.usbDevices[index];
        if (key == DeviceProperty::InstanceId)
            return WriteString(device.instanceId, type, buffer, size);
        if (key == DeviceProperty::LocationInfo && device.location)
            return WriteString(*device.location, type, buffer, size);
        return kCrNoSuchValue;
    }
    const auto nodes = DeviceTree(machine_);
    if (devInst == 0 || devInst > nodes.size())
        return kCrNoSuchDevnode;
    const DeviceNode& node = nodes[devInst - 1];
    switch (key) {
        case DeviceProperty::InstanceId:
            return WriteString(node.instanceId, type, buffer, size);
        case DeviceProperty::Driver:
            return WriteString(node.driverKey, type, buffer, size);
        case DeviceProperty::LastArrivalDate: {
            std::vector<std::uint8_t> bytes;
            for (int shift = 0; shift < 64; shift += 8)
                bytes.push_back(static_cast<std::uint8_t>(node.arrival >> shift));
            return WriteBytes(bytes, kDevPropTypeFileTime, type, buffer, size);
        }
        case DeviceProperty::LocationInfo:
            break;  // monitors report none in the simulation
    }
    return kCrNoSuchValue;
}

// The devices whose enumerator (the instance id up to its first backslash) is
// `filter`, as one multi-string; only CM_GETIDLIST_FILTER_PRESENT leaves out
// the unplugged ones.
std::vector<wchar_t> SimConfigManager::DeviceIdList(std::wstring_view filter,
                                                    std::uint32_t flags) const {
    std::vector<wchar_t> list;
    const bool byEnumerator = (flags & kCmGetIdListFilterEnumerator) != 0;
    const bool presentOnly = (flags & kCmGetIdListFilterPresent) != 0;
    for (const auto& device : machine_.usbDevices) {
        if (presentOnly && !device.present)
            continue;
        const auto enumerator =
            std::wstring_view(device.instanceId)
                .substr(0, std::min(device.instanceId.find(L'\\'), device.instanceId.size()));
        if (byEnumerator && ToLowerWide(enumerator) != ToLowerWide(filter))
            continue;
        list.insert(list.end(), device.instanceId.begin(), device.instanceId.end());
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

ConfigRet SimConfigManager::GetDeviceIdListSize(std::uint32_t& size, std::wstring_view filter,
                                                std::uint32_t flags) {
    size = static_cast<std::uint32_t>(DeviceIdList(filter, flags).size());
    return kCrSuccess;
}

ConfigRet SimConfigManager::GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer,
                                            std::uint32_t flags) {
    const auto list = DeviceIdList(filter, flags);
    if (listChanges_ < machine_.faults.deviceIdListChanges) {
        ++listChanges_;
        return kCrBufferSmall;
    }
    if (list.size() > buffer.size())
        return kCrBufferSmall;
    std::fill(std::copy(list.begin(), list.end(), buffer.begin()), buffer.end(), L'\0');
    return kCrSuccess;
}

Win32Error SimWindowSystem::RegisterDefaultWindowClass(std::wstring_view className) {
    if (machine_.desktop.faults.registerClass)
        return *machine_.desktop.faults.registerClass;
    if (!classes_.insert(ToLowerWide(className)).second)
        return kErrorClassAlreadyExists;
    return kErrorSuccess;
}

Win32Error SimWindowSystem::CreateBareWindow(std::wstring_view className, WindowHandle& window) {
    if (machine_.desktop.faults.createWindow)
        return *machine_.desktop.faults.createWindow;
    if (!classes_.contains(ToLowerWide(className)))
        return kErrorCannotFindWindowClass;
    window = nextWindow_;
    nextWindow_ += 4;
    windows_.insert(window);
    return kErrorSuccess;
}

std::intptr_t SimWindowSystem::SendWindowMessage(WindowHandle window, std::uint32_t message,
                                                 std::uintptr_t wParam, std::intptr_t lParam) {
    // DefWindowProcW hands SC_MONITORPOWER to the system, which powers every display.
    if (windows_.contains(window) && message == kWmSysCommand && wParam == kScMonitorPower &&
        lParam == kMonitorPowerOff) {
        ++machine_.desktop.displaysOffRequests;
        machine_.desktop.changed = true;
    }
    return 0;
}

bool SimWindowSystem::DestroyWindow(WindowHandle window) {
    return windows_.erase(window) != 0;
}

bool SimWindowSystem::UnregisterWindowClass(std::wstring_view className) {
    return classes_.erase(ToLowerWide(className)) != 0;
}

}  // namespace lenticor::sim
