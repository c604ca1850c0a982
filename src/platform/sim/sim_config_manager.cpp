#include "platform/sim/sim_config_manager.h"

#include "app/monitor_identity.h"
#include "app/text.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"

#include <algorithm>

namespace lenticor::sim {
namespace {

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
                node.driverKey = SimMonitorDriverKey(monitor);
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
    return WriteBytes(MakeRegistryString(text).data, kDevPropTypeString, type, buffer, size);
}

}  // namespace

ConfigRet SimConfigManager::GetDeviceInterfaceProperty(std::wstring_view interfacePath,
                                                       DeviceProperty key, std::uint32_t& type,
                                                       std::span<std::uint8_t> buffer,
                                                       std::uint32_t& size) {
    const PortCall counted;
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
    const PortCall counted;
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
    const PortCall counted;
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
    const PortCall counted;
    size = static_cast<std::uint32_t>(DeviceIdList(filter, flags).size());
    return kCrSuccess;
}

ConfigRet SimConfigManager::GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer,
                                            std::uint32_t flags) {
    const PortCall counted;
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

}  // namespace lenticor::sim
