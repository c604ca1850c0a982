#include "desktop/detach_plan.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "desktop/snapshot_codec.h"

namespace nimbo {
namespace {

using dcfg::DISPLAYCONFIG_MODE_INFO;
using dcfg::DISPLAYCONFIG_PATH_INFO;

bool SameLuid(const dcfg::LUID& a, const dcfg::LUID& b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

// The source mode a path points at, or null when the index is out of range or
// names another kind of mode.
const DISPLAYCONFIG_MODE_INFO* SourceModeOf(const DISPLAYCONFIG_PATH_INFO& path,
                                            const std::vector<DISPLAYCONFIG_MODE_INFO>& modes) {
    const std::uint32_t index = path.sourceInfo.modeInfoIdx;
    if (index >= modes.size() || modes[index].infoType != dcfg::kModeInfoTypeSource)
        return nullptr;
    return &modes[index];
}

bool HasOwnSourceMode(const DISPLAYCONFIG_PATH_INFO& path,
                      const std::vector<DISPLAYCONFIG_MODE_INFO>& modes) {
    const auto* mode = SourceModeOf(path, modes);
    return mode != nullptr && mode->id == path.sourceInfo.id &&
           SameLuid(mode->adapterId, path.sourceInfo.adapterId);
}

bool HasOwnTargetMode(const DISPLAYCONFIG_PATH_INFO& path,
                      const std::vector<DISPLAYCONFIG_MODE_INFO>& modes) {
    const std::uint32_t index = path.targetInfo.modeInfoIdx;
    if (index == dcfg::kInvalidModeIndex)
        return true;
    return index < modes.size() && modes[index].infoType == dcfg::kModeInfoTypeTarget &&
           modes[index].id == path.targetInfo.id &&
           SameLuid(modes[index].adapterId, path.targetInfo.adapterId);
}

struct Rect {
    std::int64_t left, top, right, bottom;
    bool operator==(const Rect&) const = default;
};

Rect RectOf(const dcfg::DISPLAYCONFIG_SOURCE_MODE& mode) {
    const std::int64_t x = mode.position.x;
    const std::int64_t y = mode.position.y;
    return {x, y, x + mode.width, y + mode.height};
}

bool Overlap(const Rect& a, const Rect& b) {
    return std::min(a.right, b.right) > std::max(a.left, b.left) &&
           std::min(a.bottom, b.bottom) > std::max(a.top, b.top);
}

// Sharing an edge segment of positive length; corners alone do not join.
bool Neighbours(const Rect& a, const Rect& b) {
    const bool verticalOverlap = std::min(a.bottom, b.bottom) > std::max(a.top, b.top);
    const bool horizontalOverlap = std::min(a.right, b.right) > std::max(a.left, b.left);
    return ((a.right == b.left || b.right == a.left) && verticalOverlap) ||
           ((a.bottom == b.top || b.bottom == a.top) && horizontalOverlap);
}

bool Connected(const std::vector<Rect>& regions) {
    if (regions.empty())
        return true;
    std::vector<bool> reached(regions.size(), false);
    std::vector<std::size_t> pending{0};
    reached[0] = true;
    std::size_t count = 1;
    while (!pending.empty()) {
        const std::size_t current = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < regions.size(); ++i) {
            if (!reached[i] && Neighbours(regions[current], regions[i])) {
                reached[i] = true;
                ++count;
                pending.push_back(i);
            }
        }
    }
    return count == regions.size();
}

// Survivor list of SameSurvivors: positions dropped, identities and modes kept.
std::vector<std::string> PlacementFreeSurvivors(const DesktopTopology& topology) {
    // Records only, as the planner: the engine compares its plan with the
    // desktop Windows made of it, a live capture rather than saved text, and a
    // path there that could not be handed back (virtual-mode support) must
    // answer "not the same", not throw as a broken journal would. Nothing is
    // lost: the path flags are part of each signature and a plan never holds
    // such a path, so a true answer only covers desktops the strict decode
    // accepts, and an observed desktop recorded on it loads back.
    DesktopSnapshot snapshot = DecodeTopologySnapshot(topology, SnapshotCheck::RecordsOnly);
    std::set<std::string> keys;
    for (std::size_t i = 0; i < snapshot.paths.size(); ++i) {
        const auto& path = snapshot.paths[i];
        if (path.targetInfo.targetAvailable == 0 ||
            !keys.insert(PathKey(path, snapshot.names[i])).second ||
            !HasOwnSourceMode(path, snapshot.modes) || !HasOwnTargetMode(path, snapshot.modes)) {
            return {};
        }
    }
    for (auto& mode : snapshot.modes) {
        if (mode.infoType == dcfg::kModeInfoTypeSource)
            mode.sourceMode.position = {0, 0};
    }
    return SurvivorSignatures(BuildDesktopTopology(snapshot), "");
}

}  // namespace

DesktopTopology PlanTargetRemoval(const DesktopTopology& topology, std::string_view key) {
    DesktopSnapshot snapshot = DecodeTopologySnapshot(topology, SnapshotCheck::RecordsOnly);
    for (const auto& path : snapshot.paths) {
        if ((path.flags & dcfg::kPathSupportVirtualModeFlag) != 0)
            return {};
    }
    std::size_t removed = snapshot.paths.size();
    for (std::size_t i = 0; i < snapshot.paths.size(); ++i) {
        if (PathKey(snapshot.paths[i], snapshot.names[i]) == key)
            removed = i;
    }
    if (removed == snapshot.paths.size() || snapshot.paths.size() < 2)
        return {};

    const auto& target = snapshot.paths[removed];
    for (std::size_t i = 0; i < snapshot.paths.size(); ++i) {
        const auto& other = snapshot.paths[i];
        if (i != removed && other.sourceInfo.id == target.sourceInfo.id &&
            SameLuid(other.sourceInfo.adapterId, target.sourceInfo.adapterId)) {
            return {};
        }
    }
    const auto* removedMode = SourceModeOf(target, snapshot.modes);
    if (removedMode == nullptr)
        return {};
    const bool wasPrimary =
        removedMode->sourceMode.position.x == 0 && removedMode->sourceMode.position.y == 0;

    snapshot.paths.erase(snapshot.paths.begin() + static_cast<std::ptrdiff_t>(removed));
    snapshot.names.erase(snapshot.names.begin() + static_cast<std::ptrdiff_t>(removed));

    if (wasPrimary) {
        const DISPLAYCONFIG_MODE_INFO* primary = nullptr;
        std::uint64_t largest = 0;
        std::set<std::uint32_t> indices;
        for (const auto& path : snapshot.paths) {
            const auto* mode = SourceModeOf(path, snapshot.modes);
            if (mode == nullptr)
                return {};
            indices.insert(path.sourceInfo.modeInfoIdx);
            const std::uint64_t area =
                std::uint64_t{mode->sourceMode.width} * mode->sourceMode.height;
            if (primary == nullptr || area > largest) {
                primary = mode;
                largest = area;
            }
        }
        const std::int64_t dx = primary->sourceMode.position.x;
        const std::int64_t dy = primary->sourceMode.position.y;
        constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
        constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
        for (const std::uint32_t index : indices) {
            auto& position = snapshot.modes[index].sourceMode.position;
            const std::int64_t x = position.x - dx;
            const std::int64_t y = position.y - dy;
            if (x < kMin || x > kMax || y < kMin || y > kMax)
                return {};
            position = {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
        }
    }
    return BuildDesktopTopology(snapshot);
}

DesktopTopology PlanDetach(const DesktopTopology& topology, std::string_view key) {
    const DesktopSnapshot snapshot = DecodeTopologySnapshot(topology, SnapshotCheck::RecordsOnly);
    if (!IsSupportedLayout(snapshot) || IsCloneTarget(snapshot, key))
        return {};
    DesktopTopology plan = PlanTargetRemoval(topology, key);
    if (plan.targets.empty() ||
        !IsSupportedLayout(DecodeTopologySnapshot(plan, SnapshotCheck::RecordsOnly)))
        return {};
    return plan;
}

bool IsSupportedLayout(const DesktopSnapshot& snapshot) {
    struct Source {
        dcfg::LUID adapter;
        std::uint32_t id;
        Rect rect;
        std::uint32_t pixelFormat;
    };
    std::vector<Source> seen;
    std::vector<Rect> regions;
    for (const auto& path : snapshot.paths) {
        if (!HasOwnSourceMode(path, snapshot.modes))
            return false;
        const auto& mode = snapshot.modes[path.sourceInfo.modeInfoIdx].sourceMode;
        if (mode.width == 0 || mode.height == 0)
            return false;
        const Source source{path.sourceInfo.adapterId, path.sourceInfo.id, RectOf(mode),
                            mode.pixelFormat};
        bool repeated = false;
        bool clone = false;
        for (const auto& other : seen) {
            const bool sameAdapter = SameLuid(other.adapter, source.adapter);
            if (sameAdapter && other.id == source.id) {
                if (other.rect != source.rect || other.pixelFormat != source.pixelFormat) {
                    return false;
                }
                repeated = true;
            } else if (other.rect == source.rect) {
                if (sameAdapter)
                    return false;
                clone = true;
            }
        }
        if (repeated)
            continue;
        seen.push_back(source);
        if (clone)
            continue;
        for (const auto& region : regions) {
            if (Overlap(region, source.rect))
                return false;
        }
        regions.push_back(source.rect);
    }
    return Connected(regions);
}

bool IsCloneTarget(const DesktopSnapshot& snapshot, std::string_view key) {
    for (std::size_t i = 0; i < snapshot.paths.size() && i < snapshot.names.size(); ++i) {
        if (PathKey(snapshot.paths[i], snapshot.names[i]) != key)
            continue;
        const auto& mine = snapshot.modes[snapshot.paths[i].sourceInfo.modeInfoIdx].sourceMode;
        for (std::size_t j = 0; j < snapshot.paths.size(); ++j) {
            if (j == i)
                continue;
            const auto& theirs =
                snapshot.modes[snapshot.paths[j].sourceInfo.modeInfoIdx].sourceMode;
            if (mine.position.x == theirs.position.x && mine.position.y == theirs.position.y &&
                mine.width == theirs.width && mine.height == theirs.height) {
                return true;
            }
        }
    }
    return false;
}

bool SameSurvivors(const DesktopTopology& a, const DesktopTopology& b) {
    const auto first = PlacementFreeSurvivors(a);
    return !first.empty() && first == PlacementFreeSurvivors(b);
}

}  // namespace nimbo
