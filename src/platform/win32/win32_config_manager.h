#pragma once
// The real Windows configuration manager: device lists, device nodes and their
// properties. Each member is the Windows call its port names, nothing more.

#include "platform/config_manager.h"

namespace lenticor::win32 {

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

}  // namespace lenticor::win32
