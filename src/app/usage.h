#pragma once

#include <ostream>

namespace lenticor {

// Writes the fourteen-line usage text (every line ending in '\n', no flush).
void PrintUsage(std::ostream& out);

}  // namespace lenticor
