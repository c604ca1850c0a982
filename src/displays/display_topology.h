#pragma once
// How the displays are combined: the topology Windows reports for the current
// database, and outputs that show the same part of the desktop.

#include "displays/display_info.h"

#include <vector>

namespace lenticor {
class DiagnosticLog;
class DisplayConfig;
}  // namespace lenticor

namespace nimbo {

// Asks for the current database's topology id (QDC_DATABASE_CURRENT) and maps
// it, writing one "[TOPOLOGY]" line. Every failure gives Unknown: a sizing
// error is logged with its code, a failed query with a warning, zero paths
// silently. Throws only on allocation failure.
[[nodiscard]] DisplayTopology QueryDisplayTopology(lenticor::DisplayConfig& displayConfig,
                                                   lenticor::DiagnosticLog& log);

// Marks every pair of records with identical desktop rectangles as cloned and
// warns once per pair. Never clears a mark.
void DetectClonedDisplays(std::vector<DisplayInfo>& displays, lenticor::DiagnosticLog& log);

}  // namespace nimbo
