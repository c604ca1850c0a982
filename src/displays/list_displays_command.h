#pragma once
// "--list-displays": the active displays and the desktop topology as one
// "[VXDisplayList]" result line.
//
//   [VXDisplayList]{"displays":[{"adapterIndex":0,...,"width":1920}],"topology":"extend"}

#include "displays/display_info.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace lenticor {
struct Platform;
}  // namespace lenticor

namespace nimbo {

// {"displays": [...], "topology": TopologyName(topology)}, one object per
// record with the members the host reads (position, colour depth and
// orientation stay out).
[[nodiscard]] nlohmann::json DisplayListToJson(const std::vector<DisplayInfo>& displays,
                                               DisplayTopology topology);

// Exit code 0 with the result line; 1 with "Error: No displays found" on
// standard error when nothing was enumerated; 1 with "Error enumerating
// displays: <what>" for a standard exception. Arguments are ignored.
int ListDisplaysCommand(lenticor::Platform& platform);

}  // namespace nimbo
