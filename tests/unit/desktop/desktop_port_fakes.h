#pragma once
// The display-configuration, monitor, display-device, device-tree and window
// ports answered from a list of builder monitors, with switches for the
// failures the capture and identity code must survive.

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "desktop/desktop_builders.h"
#include "platform/config_manager.h"
#include "platform/display_config.h"
#include "platform/display_devices.h"
#include "platform/monitors.h"
#include "platform/window_system.h"

namespace nimbo::test {

class FakeDesktopPorts final : public lenticor::DisplayConfig,
                               public lenticor::Monitors,
                               public lenticor::DisplayDevices,
                               public lenticor::ConfigManager {
  public:
    explicit FakeDesktopPorts(std::vector<Monitor> machine) : monitors(std::move(machine)) {}

    std::vector<Monitor> monitors;
    // Results QueryDisplayConfig gives before answering for real (e.g. 122).
    std::deque<lenticor::Win32Error> queryResults;
    // Counts GetDisplayConfigBufferSizes reports instead of the real ones.
    std::optional<std::uint32_t> sizedPaths;
    std::optional<std::uint32_t> sizedModes;
    lenticor::Win32Error sizingResult = lenticor::kErrorSuccess;
    lenticor::Win32Error setResult = lenticor::kErrorSuccess;
    std::set<std::size_t> unreadableMonitors;  // QueryMonitorInfo fails for these indexes
    bool interfaceNamesMissing = false;        // EDD_GET_DEVICE_INTERFACE_NAME gives ""
    // Replaces the instance-id property of every interface.
    struct RawProperty {
        lenticor::ConfigRet result = lenticor::kCrSuccess;
        std::uint32_t type = lenticor::kDevPropTypeString;
        std::vector<std::uint8_t> bytes;
    };
    std::optional<RawProperty> instanceIdOverride;
    lenticor::ConfigRet locateResult = lenticor::kCrSuccess;

    std::vector<std::uint32_t> sizingFlags;
    std::vector<std::uint32_t> queryFlags;
    struct SetCall {
        std::vector<dcfg::DISPLAYCONFIG_PATH_INFO> paths;
        std::vector<dcfg::DISPLAYCONFIG_MODE_INFO> modes;
        std::uint32_t flags;
    };
    std::vector<SetCall> setCalls;

    lenticor::Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags, std::uint32_t& pathCount,
                                                     std::uint32_t& modeCount) override;
    lenticor::Win32Error QueryDisplayConfig(std::uint32_t flags,
                                            std::vector<dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
                                            std::vector<dcfg::DISPLAYCONFIG_MODE_INFO>& modes,
                                            std::uint32_t* topologyId) override;
    lenticor::Win32Error GetTargetName(dcfg::LUID adapterId, std::uint32_t targetId,
                                       lenticor::DisplayConfigTargetName& name) override;
    lenticor::Win32Error GetSourceName(dcfg::LUID, std::uint32_t,
                                       lenticor::DisplayConfigSourceName&) override {
        return lenticor::kErrorNotSupported;
    }
    lenticor::Win32Error SetDisplayConfig(std::span<const dcfg::DISPLAYCONFIG_PATH_INFO> paths,
                                          std::span<const dcfg::DISPLAYCONFIG_MODE_INFO> modes,
                                          std::uint32_t flags) override;

    bool EnumDisplayMonitors(const std::function<bool(lenticor::MonitorHandle)>& visit) override;
    bool QueryMonitorInfo(lenticor::MonitorHandle monitor, lenticor::MonitorInfo& info) override;

    std::optional<lenticor::DisplayDevice> EnumDisplayDevices(
        std::optional<std::wstring_view> device, std::uint32_t index, std::uint32_t flags) override;
    std::optional<lenticor::DisplaySettings> EnumDisplaySettings(std::wstring_view,
                                                                 std::uint32_t) override {
        return std::nullopt;
    }

    lenticor::ConfigRet GetDeviceInterfaceProperty(std::wstring_view interfacePath,
                                                   lenticor::DeviceProperty key,
                                                   std::uint32_t& type,
                                                   std::span<std::uint8_t> buffer,
                                                   std::uint32_t& size) override;
    lenticor::ConfigRet LocateDevNode(lenticor::DevInst& devInst, std::wstring_view instanceId,
                                      std::uint32_t flags) override;
    lenticor::ConfigRet GetDevNodeProperty(lenticor::DevInst devInst, lenticor::DeviceProperty key,
                                           std::uint32_t& type, std::span<std::uint8_t> buffer,
                                           std::uint32_t& size) override;

  private:
    // Active monitors grouped by source: one HMONITOR and GDI device each.
    std::vector<std::vector<std::size_t>> Sources() const;
};

// Records the window calls of the darken request.
class FakeWindows final : public lenticor::WindowSystem {
  public:
    lenticor::Win32Error registerResult = lenticor::kErrorSuccess;
    lenticor::Win32Error createResult = lenticor::kErrorSuccess;
    std::vector<std::string> calls;

    lenticor::Win32Error RegisterDefaultWindowClass(std::wstring_view className) override;
    lenticor::Win32Error CreateBareWindow(std::wstring_view className,
                                          lenticor::WindowHandle& window) override;
    std::intptr_t SendWindowMessage(lenticor::WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) override;
    bool DestroyWindow(lenticor::WindowHandle window) override;
    bool UnregisterWindowClass(std::wstring_view className) override;
};

// A string property as Windows writes it: UTF-16LE with the terminating NUL.
std::vector<std::uint8_t> Utf16Bytes(std::wstring_view text);

}  // namespace nimbo::test
