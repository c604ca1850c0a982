#include "displays/display_topology.h"

#include "app/diagnostic_log.h"
#include "app/sized_query.h"
#include "platform/display_config.h"

#include <string>

namespace nimbo {

const char* TopologyName(DisplayTopology topology) {
    switch (topology) {
        case DisplayTopology::Internal:
            return "internal";
        case DisplayTopology::Clone:
            return "clone";
        case DisplayTopology::Extend:
            return "extend";
        case DisplayTopology::External:
            return "external";
        case DisplayTopology::Unknown:
            break;
    }
    return "unknown";
}

DisplayTopology QueryDisplayTopology(lenticor::DisplayConfig& displayConfig,
                                     lenticor::DiagnosticLog& log) {
    // Only the topology id matters, but Windows insists on arrays of the
    // announced sizes.
    std::vector<dcfg::DISPLAYCONFIG_PATH_INFO> paths;
    std::vector<dcfg::DISPLAYCONFIG_MODE_INFO> modes;
    std::uint32_t topologyId = 0;
    const auto queried = lenticor::QueryDisplayConfigSized(
        displayConfig, lenticor::kQdcDatabaseCurrent, paths, modes, &topologyId,
        [&log](lenticor::Win32Error sized, std::uint32_t pathCount, std::uint32_t) {
            if (sized != lenticor::kErrorSuccess) {
                log.LogDisplayError("GetDisplayConfigBufferSizes failed", sized);
            }
            return sized == lenticor::kErrorSuccess && pathCount != 0;
        });
    if (!queried) {
        return DisplayTopology::Unknown;
    }
    if (*queried != lenticor::kErrorSuccess) {
        log.LogWarning(
            "[TOPOLOGY] QueryDisplayConfig with QDC_DATABASE_CURRENT failed, using fallback "
            "detection");
        return DisplayTopology::Unknown;
    }
    switch (topologyId) {
        case lenticor::kTopologyInternal:
            log.LogDisplayInfo("[TOPOLOGY] Current topology: Internal (single internal display)");
            return DisplayTopology::Internal;
        case lenticor::kTopologyClone:
            log.LogDisplayInfo("[TOPOLOGY] Current topology: Clone (duplicate mode)");
            return DisplayTopology::Clone;
        case lenticor::kTopologyExtend:
            log.LogDisplayInfo("[TOPOLOGY] Current topology: Extend (extended desktop)");
            return DisplayTopology::Extend;
        case lenticor::kTopologyExternal:
            log.LogDisplayInfo("[TOPOLOGY] Current topology: External (single external display)");
            return DisplayTopology::External;
        default:
            log.LogWarning("[TOPOLOGY] Unknown topology ID: " + std::to_string(topologyId));
            return DisplayTopology::Unknown;
    }
}

void DetectClonedDisplays(std::vector<DisplayInfo>& displays, lenticor::DiagnosticLog& log) {
    for (std::size_t i = 0; i < displays.size(); ++i) {
        for (std::size_t j = i + 1; j < displays.size(); ++j) {
            const auto& a = displays[i].desktopRect;
            const auto& b = displays[j].desktopRect;
            if (a.left != b.left || a.top != b.top || a.right != b.right || a.bottom != b.bottom) {
                continue;
            }
            displays[i].isCloned = true;
            displays[j].isCloned = true;
            log.LogWarning("[TOPOLOGY] ⚠️ Displays " + std::to_string(displays[i].index) +
                           " and " + std::to_string(displays[j].index) +
                           " share the same coordinates - they are cloned/duplicated");
        }
    }
}

}  // namespace nimbo
