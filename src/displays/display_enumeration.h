#pragma once
// The inventory of active display outputs: DXGI adapters and outputs,
// completed from the display-device tables and the registry's EDID copies.

#include "displays/display_info.h"

#include <vector>

namespace lenticor {
class DiagnosticLog;
struct Platform;
}  // namespace lenticor

namespace nimbo {

// Whether a run of this process has enumerated before. Only the first
// enumeration that gets past factory creation writes the per-display detail
// lines; later ones (a command that enumerates twice) write the summary only.
struct EnumerationHistory {
    bool enumeratedBefore = false;
};

// The process's own history; tests pass their own.
[[nodiscard]] EnumerationHistory& ProcessEnumerationHistory();

// One record per DXGI output in adapter and output order, with clones marked,
// followed by the summary lines (and the topology query's line). API failures
// never throw: a factory failure is logged and gives an empty list, the other
// failures fall back as the record's fields describe. Allocation failures
// propagate.
[[nodiscard]] std::vector<DisplayInfo> EnumerateDisplays(
    lenticor::Platform& platform, lenticor::DiagnosticLog& log,
    EnumerationHistory& history = ProcessEnumerationHistory());

// The detail lines of one record (written on the first enumeration).
void WriteDisplayDetails(const DisplayInfo& display, lenticor::DiagnosticLog& log);

// The summary lines after cloning and the topology query.
void WriteEnumerationSummary(const std::vector<DisplayInfo>& displays, DisplayTopology topology,
                             lenticor::DiagnosticLog& log);

}  // namespace nimbo
