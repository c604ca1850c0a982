#include "desktop/desktop_port_fakes.h"

#include <algorithm>
#include <cstring>

#include "app/text.h"

namespace nimbo::test {
namespace {

std::wstring Narrow2Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring InstanceIdOf(const Monitor& m) {
    std::wstring path = InterfacePathOf(m);  // \\?\DISPLAY#model#instance#{class}
    path = path.substr(4, path.find(L"#{") - 4);
    std::replace(path.begin(), path.end(), L'#', L'\\');
    return path;
}

std::wstring DriverKeyOf(const Monitor& m) {
    return Narrow2Wide("{4d36e96e-e325-11ce-bfc1-08002be10318}\\" +
                       (m.identityBroken ? std::string("9999") : m.driver));
}

lenticor::ConfigRet WriteProperty(const std::vector<std::uint8_t>& bytes, std::uint32_t& type,
                                  std::span<std::uint8_t> buffer, std::uint32_t& size) {
    type = lenticor::kDevPropTypeString;
    if (bytes.size() > size) {
        size = static_cast<std::uint32_t>(bytes.size());
        return lenticor::kCrBufferSmall;
    }
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    size = static_cast<std::uint32_t>(bytes.size());
    return lenticor::kCrSuccess;
}

}  // namespace

std::vector<std::uint8_t> Utf16Bytes(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

lenticor::Win32Error FakeDesktopPorts::GetDisplayConfigBufferSizes(std::uint32_t flags,
                                                                   std::uint32_t& pathCount,
                                                                   std::uint32_t& modeCount) {
    sizingFlags.push_back(flags);
    const DesktopSnapshot snapshot = BuildSnapshot(monitors);
    pathCount = sizedPaths.value_or(static_cast<std::uint32_t>(snapshot.paths.size()));
    modeCount = sizedModes.value_or(static_cast<std::uint32_t>(snapshot.modes.size()));
    return sizingResult;
}

lenticor::Win32Error FakeDesktopPorts::QueryDisplayConfig(
    std::uint32_t flags, std::vector<dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
    std::vector<dcfg::DISPLAYCONFIG_MODE_INFO>& modes, std::uint32_t*) {
    queryFlags.push_back(flags);
    if (!queryResults.empty()) {
        const auto result = queryResults.front();
        queryResults.pop_front();
        if (result != lenticor::kErrorSuccess)
            return result;
    }
    const DesktopSnapshot snapshot = BuildSnapshot(monitors);
    if (snapshot.paths.size() > paths.size() || snapshot.modes.size() > modes.size())
        return lenticor::kErrorInsufficientBuffer;
    paths = snapshot.paths;
    modes = snapshot.modes;
    return lenticor::kErrorSuccess;
}

lenticor::Win32Error FakeDesktopPorts::GetTargetName(dcfg::LUID adapterId, std::uint32_t targetId,
                                                     lenticor::DisplayConfigTargetName& name) {
    for (const auto& m : monitors) {
        if (m.adapter == adapterId.LowPart && m.adapterHigh == adapterId.HighPart &&
            m.targetId == targetId) {
            if (!m.named)
                return lenticor::kErrorInvalidParameter;
            name.monitorDevicePath = InterfacePathOf(m);
            return lenticor::kErrorSuccess;
        }
    }
    return lenticor::kErrorInvalidParameter;
}

lenticor::Win32Error FakeDesktopPorts::SetDisplayConfig(
    std::span<const dcfg::DISPLAYCONFIG_PATH_INFO> paths,
    std::span<const dcfg::DISPLAYCONFIG_MODE_INFO> modes, std::uint32_t flags) {
    setCalls.push_back({{paths.begin(), paths.end()}, {modes.begin(), modes.end()}, flags});
    return setResult;
}

std::vector<std::vector<std::size_t>> FakeDesktopPorts::Sources() const {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::size_t>> bySource;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> order;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (!monitors[i].active)
            continue;
        const auto source = std::make_pair(monitors[i].adapter, monitors[i].sourceId);
        if (!bySource.contains(source))
            order.push_back(source);
        bySource[source].push_back(i);
    }
    std::vector<std::vector<std::size_t>> sources;
    for (const auto& source : order)
        sources.push_back(bySource[source]);
    return sources;
}

bool FakeDesktopPorts::EnumDisplayMonitors(
    const std::function<bool(lenticor::MonitorHandle)>& visit) {
    const auto count = Sources().size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!visit(i + 1))
            return false;
    }
    return true;
}

bool FakeDesktopPorts::QueryMonitorInfo(lenticor::MonitorHandle monitor,
                                        lenticor::MonitorInfo& info) {
    if (unreadableMonitors.contains(monitor - 1))
        return false;
    info.device = L"\\\\.\\DISPLAY" + std::to_wstring(monitor);
    return true;
}

std::optional<lenticor::DisplayDevice> FakeDesktopPorts::EnumDisplayDevices(
    std::optional<std::wstring_view> device, std::uint32_t index, std::uint32_t flags) {
    const auto sources = Sources();
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!device || *device != L"\\\\.\\DISPLAY" + std::to_wstring(s + 1))
            continue;
        if (index >= sources[s].size())
            return std::nullopt;
        const Monitor& m = monitors[sources[s][index]];
        lenticor::DisplayDevice found;
        found.stateFlags = lenticor::kDisplayDeviceActive | lenticor::kDisplayDeviceAttached;
        if (flags & lenticor::kEddGetDeviceInterfaceName)
            found.deviceId = interfaceNamesMissing ? L"" : InterfacePathOf(m);
        else
            found.deviceId = DisplayIdOf(m);
        return found;
    }
    return std::nullopt;
}

lenticor::ConfigRet FakeDesktopPorts::GetDeviceInterfaceProperty(std::wstring_view interfacePath,
                                                                 lenticor::DeviceProperty key,
                                                                 std::uint32_t& type,
                                                                 std::span<std::uint8_t> buffer,
                                                                 std::uint32_t& size) {
    if (key != lenticor::DeviceProperty::InstanceId)
        return lenticor::kCrNoSuchValue;
    if (instanceIdOverride) {
        type = instanceIdOverride->type;
        const auto& bytes = instanceIdOverride->bytes;
        std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), size), buffer.begin());
        size = static_cast<std::uint32_t>(bytes.size());
        return instanceIdOverride->result;
    }
    // Interface paths compare without regard to case, as the device tree does.
    const std::wstring wanted = lenticor::ToLowerWide(interfacePath);
    for (const auto& m : monitors) {
        if (lenticor::ToLowerWide(InterfacePathOf(m)) == wanted)
            return WriteProperty(Utf16Bytes(InstanceIdOf(m)), type, buffer, size);
    }
    return lenticor::kCrNoSuchDeviceInterface;
}

lenticor::ConfigRet FakeDesktopPorts::LocateDevNode(lenticor::DevInst& devInst,
                                                    std::wstring_view instanceId,
                                                    std::uint32_t flags) {
    if (locateResult != lenticor::kCrSuccess || flags != lenticor::kCmLocateDevNodeNormal)
        return locateResult != lenticor::kCrSuccess ? locateResult : lenticor::kCrNoSuchDevnode;
    const std::wstring wanted = lenticor::ToLowerWide(instanceId);
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (lenticor::ToLowerWide(InstanceIdOf(monitors[i])) == wanted) {
            devInst = static_cast<lenticor::DevInst>(i + 1);
            return lenticor::kCrSuccess;
        }
    }
    return lenticor::kCrNoSuchDevnode;
}

lenticor::ConfigRet FakeDesktopPorts::GetDevNodeProperty(lenticor::DevInst devInst,
                                                         lenticor::DeviceProperty key,
                                                         std::uint32_t& type,
                                                         std::span<std::uint8_t> buffer,
                                                         std::uint32_t& size) {
    if (key != lenticor::DeviceProperty::Driver || devInst == 0 || devInst > monitors.size())
        return lenticor::kCrNoSuchValue;
    return WriteProperty(Utf16Bytes(DriverKeyOf(monitors[devInst - 1])), type, buffer, size);
}

lenticor::Win32Error FakeWindows::RegisterDefaultWindowClass(std::wstring_view className) {
    calls.push_back("register " + lenticor::WideToUtf8(className));
    return registerResult;
}

lenticor::Win32Error FakeWindows::CreateBareWindow(std::wstring_view className,
                                                   lenticor::WindowHandle& window) {
    calls.push_back("create " + lenticor::WideToUtf8(className));
    window = 77;
    return createResult;
}

std::intptr_t FakeWindows::SendWindowMessage(lenticor::WindowHandle window, std::uint32_t message,
                                             std::uintptr_t wParam, std::intptr_t lParam) {
    calls.push_back("send " + std::to_string(window) + " " + std::to_string(message) + " " +
                    std::to_string(wParam) + " " + std::to_string(lParam));
    return 0;
}

bool FakeWindows::DestroyWindow(lenticor::WindowHandle window) {
    calls.push_back("destroy " + std::to_string(window));
    return true;
}

bool FakeWindows::UnregisterWindowClass(std::wstring_view className) {
    calls.push_back("unregister " + lenticor::WideToUtf8(className));
    return true;
}

}  // namespace nimbo::test
