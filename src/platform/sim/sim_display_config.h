#pragma once
// The display configuration of the simulated machine: one path per output
// with its own source, the active ones first, each active path with a source
// and a target mode. Windows also offers inactive source-target combinations
// under QDC_ALL_PATHS; the simulation lists one inactive path per output that
// is not on the desktop.

#include "platform/display_config.h"

namespace lenticor::sim {

struct SimMachine;

class SimDisplayConfig final : public DisplayConfig {
  public:
    explicit SimDisplayConfig(SimMachine& machine) : machine_(machine) {}
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
    Win32Error SetDisplayConfig(std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
                                std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes,
                                std::uint32_t flags) override;
    // The display-scale packets, in sim_readiness.cpp.
    Win32Error GetDpiScale(nimbo::dcfg::DISPLAYCONFIG_GET_DPI_SCALE& packet) override;
    Win32Error SetDpiScale(const nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE& packet) override;

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
