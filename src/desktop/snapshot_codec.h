#pragma once
// The snapshot text: one display configuration as compact JSON,
// {"modes":["<128 hex>",...],"paths":[{"name":"<utf-8>","raw":"<144 hex>"},...]}.
// Raw records are stored exactly as captured so they can be handed back to
// Windows unchanged.

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "desktop/desktop_topology.h"

namespace nimbo {

inline constexpr std::size_t kMaxSnapshotBytes = 1048576;
inline constexpr std::size_t kMaxSnapshotPaths = 512;
inline constexpr std::size_t kMaxSnapshotModes = 1024;
inline constexpr std::size_t kMaxTargetNameUnits = 1024;

// Throws when a name is not representable (the snapshot would not decode) or
// `names` does not pair with `paths`.
[[nodiscard]] std::string EncodeSnapshot(const DesktopSnapshot& snapshot);

enum class SnapshotCheck {
    // Every path must be one we can hand back to Windows: active, without
    // virtual-mode support, with valid mode references.
    Restorable,
    // Only the records and names; for the planner and the survivor
    // comparison, which turn a path they cannot restore into "no plan" or
    // "not the same" rather than an error.
    RecordsOnly,
};

// Strict inverse of EncodeSnapshot; every rejection is a std::runtime_error
// with a fixed message, except the JSON library's own parse and type errors.
[[nodiscard]] DesktopSnapshot DecodeSnapshot(std::string_view text,
                                             SnapshotCheck check = SnapshotCheck::Restorable);

// DecodeSnapshot after parsing. Separate because the parser already refuses
// ill-formed UTF-8, so the name check can only be exercised on a built value.
[[nodiscard]] DesktopSnapshot DecodeSnapshotJson(const nlohmann::json& document,
                                                 SnapshotCheck check = SnapshotCheck::Restorable);

// Snapshot of a topology; the empty topology decodes to the empty snapshot.
[[nodiscard]] DesktopSnapshot DecodeTopologySnapshot(
    const DesktopTopology& topology, SnapshotCheck check = SnapshotCheck::Restorable);

}  // namespace nimbo
