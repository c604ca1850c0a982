#pragma once
// The desktop as the detach and restore decisions see it: the raw active
// configuration, and one entry per usable path with a stable key and a
// signature that changes whenever anything the user would notice changes.

#include <string>
#include <string_view>
#include <vector>

#include "desktop/desktop_result.h"
#include "platform/display_config_types.h"

namespace nimbo {

// The raw configuration as captured, and what a journal stores.
struct DesktopSnapshot {
    std::vector<dcfg::DISPLAYCONFIG_PATH_INFO> paths;
    std::vector<dcfg::DISPLAYCONFIG_MODE_INFO> modes;
    std::vector<std::wstring> names;  // monitor interface path per path; empty when unreadable
};

struct DesktopPathEntry {
    std::string key;        // empty for an attached monitor whose identity is unknown
    std::string signature;  // empty for an inactive path
    bool active = false;
    bool available = false;
};

// An empty `targets` with an empty `snapshot` is the empty topology ("no plan").
struct DesktopTopology {
    std::vector<DesktopPathEntry> targets;
    std::string snapshot;  // snapshot text of the active named paths
};

// One active Nimbo monitor.
struct DesktopTarget {
    std::wstring displayId;  // "MONITOR\..." hardware id
    std::string targetKey;
};

// "<lower-cased interface path as UTF-8>|<adapter HighPart>:<LowPart>:<target id>".
[[nodiscard]] std::string PathKey(const dcfg::DISPLAYCONFIG_PATH_INFO& path,
                                  std::wstring_view name);

// Text before the first '|' (the whole key when it has none).
[[nodiscard]] std::string_view KeyInterfacePart(std::string_view key);

// Hex of the mode with every byte that does not describe it zeroed. Throws
// "unsupported desktop mode type" for an unknown infoType.
[[nodiscard]] std::string NormalizedModeHex(const dcfg::DISPLAYCONFIG_MODE_INFO& mode);

// Hex of the path with its volatile fields cleared, followed by its normalised
// source and target modes. Throws "desktop snapshot mode index out of bounds".
[[nodiscard]] std::string PathSignature(const dcfg::DISPLAYCONFIG_PATH_INFO& path,
                                        const std::vector<dcfg::DISPLAYCONFIG_MODE_INFO>& modes);

[[nodiscard]] DesktopTopology BuildDesktopTopology(const DesktopSnapshot& snapshot);

// key + "|" + signature of every active named entry other than `excluded`, sorted.
[[nodiscard]] std::vector<std::string> SurvivorSignatures(const DesktopTopology& topology,
                                                          std::string_view excluded);

// Sets presence, state, attached and detached of `result` from the entries with
// `key`, taking `result.owned` as given.
void EvaluateTargetState(DesktopResult& result, const DesktopTopology& topology,
                         std::string_view key);

[[nodiscard]] bool IsActive(const DesktopTopology& topology, std::string_view key);

// No entry with `key` is active and at least one is attached.
[[nodiscard]] bool IsInactiveOnly(const DesktopTopology& topology, std::string_view key);

}  // namespace nimbo
