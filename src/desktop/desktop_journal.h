#pragma once
// The recovery journal document: which Nimbo was taken off the desktop, the
// desktop before, the planned desktop after and, when Windows arranged the
// survivors differently but harmlessly, the desktop actually observed.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "desktop/desktop_topology.h"

namespace nimbo {

struct DesktopJournal {
    std::wstring displayId;  // "MONITOR\..." hardware id of the removed Nimbo
    std::string targetKey;   // key of the removed path
    DesktopTopology before;
    DesktopTopology after;
    std::optional<DesktopTopology> observedAfter;
};

// Compact JSON; throws when a member cannot be written as strict UTF-8.
[[nodiscard]] std::string SerializeJournal(const DesktopJournal& journal);

// Accepts only a journal that describes the removal of exactly one Nimbo path
// from a desktop we could have produced; throws std::runtime_error or a JSON
// library exception otherwise. The caller treats every throw as corruption.
[[nodiscard]] DesktopJournal ParseJournal(std::string_view text);

// ParseJournal after parsing (the parser refuses ill-formed UTF-8 itself).
[[nodiscard]] DesktopJournal ParseJournalJson(const nlohmann::json& document);

}  // namespace nimbo
