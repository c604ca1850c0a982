#pragma once
// The real Windows implementations of the ports. Each call is the Windows call
// the port names, with the flags and structure sizes the portable code relies
// on; nothing here decides anything.

#include "platform/display_config.h"
#include "platform/display_devices.h"
#include "platform/dxgi.h"
#include "platform/registry.h"

namespace lenticor::win32 {

class Win32Dxgi final : public Dxgi {
  public:
    HResult CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) override;
};

class Win32DisplayDevices final : public DisplayDevices {
  public:
    std::optional<DisplayDevice> EnumDisplayDevices(std::optional<std::wstring_view> device,
                                                    std::uint32_t index,
                                                    std::uint32_t flags) override;
    std::optional<DisplaySettings> EnumDisplaySettings(std::wstring_view deviceName,
                                                       std::uint32_t modeNumber) override;
    std::int32_t ChangeDisplaySettingsEx(std::optional<std::wstring_view> deviceName,
                                         const DisplayModeRequest* mode,
                                         std::uint32_t flags) override;
};

class Win32Registry final : public Registry {
  public:
    Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t access,
                       std::unique_ptr<RegistryKey>& key) override;
    Win32Error RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                            std::wstring_view valueName, std::uint32_t flags, std::size_t capacity,
                            std::uint32_t& type, std::vector<std::uint8_t>& data) override;
    Win32Error RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                               std::wstring_view valueName, std::uint32_t type,
                               std::span<const std::uint8_t> data) override;
    Win32Error RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                  std::wstring_view valueName) override;
};

class Win32DisplayConfig final : public DisplayConfig {
  public:
    Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags, std::uint32_t& pathCount,
                                           std::uint32_t& modeCount) override;
    Win32Error QueryDisplayConfig(std::uint32_t flags,
                                  std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
                                  std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO>& modes,
                                  std::uint32_t* topologyId) override;
    Win32Error GetTargetName(nimbo::dcfg::LUID adapterId, std::uint32_t targetId,
                             DisplayConfigTargetName& name) override;
    Win32Error GetSourceName(nimbo::dcfg::LUID adapterId, std::uint32_t sourceId,
                             DisplayConfigSourceName& name) override;
    Win32Error GetDpiScale(nimbo::dcfg::DISPLAYCONFIG_GET_DPI_SCALE& packet) override;
    Win32Error SetDpiScale(const nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE& packet) override;
    Win32Error SetDisplayConfig(std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
                                std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes,
                                std::uint32_t flags) override;
};

}  // namespace lenticor::win32
