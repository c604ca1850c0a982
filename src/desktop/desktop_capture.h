#pragma once
// The desktop read from and handed back to Windows: a bounded capture of the
// display configuration, the active Nimbo monitors on it, the device-tree check
// that a monitor really belongs to the path that claims it, and SetDisplayConfig.

#include <iosfwd>
#include <string>
#include <vector>

#include "desktop/desktop_topology.h"

namespace lenticor {
class ConfigManager;
class DisplayConfig;
class DisplayDevices;
class Monitors;
}  // namespace lenticor

namespace nimbo {

inline constexpr std::uint32_t kMaxCapturePaths = 512;
inline constexpr std::uint32_t kMaxCaptureModes = 1024;

// SDC_USE_SUPPLIED_DISPLAY_CONFIG with SDC_VALIDATE / SDC_APPLY, and nothing else:
// no saving to the database, no permission for Windows to adjust the layout.
inline constexpr std::uint32_t kSetDisplayConfigValidate = 0x60;
inline constexpr std::uint32_t kSetDisplayConfigApply = 0xA0;

// Every path Windows knows, active or not, so a Nimbo that a detach made
// inactive stays visible and can be restored. Throws std::runtime_error when
// the configuration is too large, keeps changing, or an active path's monitor
// cannot be named.
[[nodiscard]] DesktopTopology CaptureDesktopTopology(lenticor::DisplayConfig& displayConfig);

// The active, attached Nimbo monitors of `topology`, by their hardware ids.
// Throws "active Nimbo desktop enumeration failed".
[[nodiscard]] std::vector<DesktopTarget> EnumerateNimboTargets(
    lenticor::Monitors& monitors, lenticor::DisplayDevices& displayDevices,
    const DesktopTopology& topology);

// The key of the one active Nimbo path showing `displayId`, or "" when none
// or several do.
[[nodiscard]] std::string TargetKeyForDisplayId(lenticor::DisplayConfig& displayConfig,
                                                lenticor::Monitors& monitors,
                                                lenticor::DisplayDevices& displayDevices,
                                                const std::wstring& displayId);

// The device tree confirms that the monitor behind the path's interface is
// the Nimbo named by `displayId`: interface -> instance id -> driver key.
[[nodiscard]] bool VerifyTargetIdentity(lenticor::ConfigManager& configManager,
                                        const std::wstring& displayId, const std::string& key);

// SetDisplayConfig with the topology's own paths and modes; false (with a
// line on `err`) when Windows refuses, or when there is nothing to hand over.
[[nodiscard]] bool ApplyDesktopTopology(lenticor::DisplayConfig& displayConfig, std::ostream& err,
                                        const DesktopTopology& topology, bool validateOnly);

}  // namespace nimbo
