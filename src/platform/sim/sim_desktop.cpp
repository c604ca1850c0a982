#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <chrono>
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
constexpr Win32Error kErrorCannotFindWindowClass = 1407;

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

}  // namespace

SimDesktop ParseSimDesktop(const Json* desktop) {
    SimDesktop result;
    if (desktop == nullptr)
        return result;
    const std::string where = "/desktop";
    ExpectMembers(*desktop, where, {"faults", "displaysOffRequests"});
    if (desktop->contains("displaysOffRequests"))
        result.displaysOffRequests =
            UnsignedAt(desktop->at("displaysOffRequests"), where + "/displaysOffRequests");
    if (!desktop->contains("faults"))
        return result;
    const Json& faults = desktop->at("faults");
    const std::string at = where + "/faults";
    ExpectMembers(faults, at,
                  {"queryChanges", "queryDelayMs", "unreadableTargetName", "validate", "apply",
                   "driverKeyMismatch", "unplug", "registerClass", "createWindow"});
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
}

std::optional<Win32Error> SimBeforeQuery(SimMachine& machine) {
    auto& desktop = machine.desktop;
    if (desktop.faults.queryDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(desktop.faults.queryDelayMs));
    if (desktop.changesReported < desktop.faults.queryChanges) {
        ++desktop.changesReported;
        return kErrorInsufficientBuffer;
    }
    return std::nullopt;
}

void SimAfterQuery(SimMachine& machine) {
    auto& desktop = machine.desktop;
    ++desktop.successfulQueries;
    const auto& unplug = desktop.faults.unplug;
    if (!unplug || desktop.successfulQueries != unplug->afterQueries)
        return;
    if (SimOutput* output = FindSimOutput(machine, unplug->output)) {
        output->monitor.reset();
        output->active = false;
        desktop.changed = true;
    }
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
    if (flags != kValidateFlags && flags != kApplyFlags)
        return kErrorInvalidParameter;  // other combinations are not simulated
    const auto& fault =
        flags == kValidateFlags ? machine.desktop.faults.validate : machine.desktop.faults.apply;
    if (fault)
        return *fault;
    if (paths.empty())
        return kErrorInvalidParameter;

    struct Placement {
        Found where;
        std::int32_t x, y;
        SimMode mode;
    };
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
            const auto& b = placements[j];
            const std::int64_t left = std::max<std::int64_t>(a.x, b.x);
            const std::int64_t right = std::min<std::int64_t>(std::int64_t{a.x} + a.mode.width,
                                                              std::int64_t{b.x} + b.mode.width);
            const std::int64_t top = std::max<std::int64_t>(a.y, b.y);
            const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{a.y} + a.mode.height,
                                                               std::int64_t{b.y} + b.mode.height);
            if (left < right && top < bottom)
                return kErrorInvalidParameter;
        }
    }
    if (!origin)
        return kErrorInvalidParameter;
    if (flags == kValidateFlags)
        return kErrorSuccess;

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

// Monitor nodes are numbered from 1, present USB devices from kUsbDevInstBase.
constexpr DevInst kUsbDevInstBase = 0x10000;

ConfigRet SimConfigManager::LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                                          std::uint32_t flags) {
    if (flags != kCmLocateDevNodeNormal)
        return kCrNoSuchDevnode;  // phantom lookups are not simulated
    const auto nodes = DeviceTree(machine_);
    const std::wstring wanted = ToLowerWide(instanceId);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (ToLowerWide(nodes[i].instanceId) == wanted) {
            devInst = static_cast<DevInst>(i + 1);
            return kCrSuccess;
        }
    }
    for (std::size_t i = 0; i < machine_.usbDevices.size(); ++i) {
        if (ToLowerWide(machine_.usbDevices[i].instanceId) == wanted) {
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

// The present devices whose enumerator (the instance id up to its first
// backslash) is `filter`, as one multi-string.
std::vector<wchar_t> SimConfigManager::DeviceIdList(std::wstring_view filter,
                                                    std::uint32_t flags) const {
    std::vector<wchar_t> list;
    const bool byEnumerator = (flags & kCmGetIdListFilterEnumerator) != 0;
    for (const auto& device : machine_.usbDevices) {
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
