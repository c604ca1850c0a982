#pragma once
// The real Windows display configuration: the path and mode queries, the
// device-info packets and SetDisplayConfig, with the structure sizes the
// portable code relies on; nothing here decides anything.

#include "platform/display_config.h"

namespace lenticor::win32 {

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
