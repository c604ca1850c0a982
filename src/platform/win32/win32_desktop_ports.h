#pragma once
// The real Windows implementations of the monitor, device-tree and window
// ports. Each member is the Windows call its port names, nothing more.

#include "platform/config_manager.h"
#include "platform/monitors.h"
#include "platform/window_system.h"

namespace lenticor::win32 {

class Win32Monitors final : public Monitors {
  public:
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override;
    [[nodiscard]] Win32Error EnumerationError() const override { return enumerationError_; }
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override;

  private:
    Win32Error enumerationError_ = kErrorSuccess;
};

class Win32ConfigManager final : public ConfigManager {
  public:
    ConfigRet GetDeviceInterfaceProperty(std::wstring_view interfacePath, DeviceProperty key,
                                         std::uint32_t& type, std::span<std::uint8_t> buffer,
                                         std::uint32_t& size) override;
    ConfigRet GetDeviceIdListSize(std::uint32_t& size, std::wstring_view filter,
                                  std::uint32_t flags) override;
    ConfigRet GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer,
                              std::uint32_t flags) override;
    ConfigRet LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                            std::uint32_t flags) override;
    ConfigRet GetDevNodeProperty(DevInst devInst, DeviceProperty key, std::uint32_t& type,
                                 std::span<std::uint8_t> buffer, std::uint32_t& size) override;
};

class Win32WindowSystem final : public WindowSystem {
  public:
    Win32Error RegisterDefaultWindowClass(std::wstring_view className) override;
    Win32Error CreateBareWindow(std::wstring_view className, WindowHandle& window) override;
    std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) override;
    bool DestroyWindow(WindowHandle window) override;
    bool UnregisterWindowClass(std::wstring_view className) override;
};

}  // namespace lenticor::win32
