#pragma once
// Computing the desktop without one path, and refusing layouts where removing
// it could leave the user with a broken or surprising desktop.

#include <string_view>

#include "desktop/desktop_topology.h"

namespace nimbo {

// The topology without the path with `key`, with the desktop origin moved to
// the largest survivor when the primary display is removed; the empty
// topology when there is no such single, cleanly removable path.
[[nodiscard]] DesktopTopology PlanTargetRemoval(const DesktopTopology& topology,
                                                std::string_view key);

// PlanTargetRemoval restricted to layouts that are supported before and after
// and where the target is not a clone.
[[nodiscard]] DesktopTopology PlanDetach(const DesktopTopology& topology, std::string_view key);

// Every path has its own valid source mode, no two regions overlap, and all
// regions form one edge-connected desktop.
[[nodiscard]] bool IsSupportedLayout(const DesktopSnapshot& snapshot);

// The path with `key` shows the same desktop rectangle as another path.
// Requires a snapshot that passed IsSupportedLayout.
[[nodiscard]] bool IsCloneTarget(const DesktopSnapshot& snapshot, std::string_view key);

// Both desktops keep the same displays with the same modes, wherever they sit.
[[nodiscard]] bool SameSurvivors(const DesktopTopology& a, const DesktopTopology& b);

}  // namespace nimbo
