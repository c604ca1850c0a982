#pragma once
// The edge of the power command towards the host: the words after
// --nimbo-display-power become a DisplayPowerRequest, a DisplayPowerResult
// becomes one "[VXNimboPower]" line.

#include "ddc/power_engine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <vector>

namespace nimbo {

inline constexpr const char* kPowerResultTag = "[VXNimboPower]";

// Action words in any letter case, options exactly as written:
//   off --display-id <id> --nimbo-power-capability-v1 <token>
//   status [--display-id <id>] with --nimbo-power-state-only anywhere after the action
// False with the reason in `error` when the words do not form a request.
[[nodiscard]] bool ParseDisplayPowerRequest(const std::vector<std::wstring>& arguments,
                                            DisplayPowerRequest& request, std::string& error);

// "capabilityCache" only on a successful, supported result that carries a
// token: a failed run must never hand the host a token to reuse.
[[nodiscard]] nlohmann::json PowerResultToJson(const DisplayPowerResult& result);

// Writes the result line on `out`, with the last D6 failure's native error.
void PrintPowerResult(std::ostream& out, DisplayPowerResult result);

}  // namespace nimbo
