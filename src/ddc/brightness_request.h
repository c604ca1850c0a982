#pragma once
// The edge of the brightness command towards the host: the words after
// --nimbo-display-brightness become a DisplayBrightnessRequest, a
// DisplayBrightnessResult becomes one "[VXNimboBrightness]" line.

#include "ddc/brightness_engine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <vector>

namespace nimbo {

inline constexpr const char* kBrightnessResultTag = "[VXNimboBrightness]";

// The action word in any letter case, then options exactly as written, in any
// order, each at most once:
//   set --level 40 --display-id <id> --nimbo-brightness-capability-v1 <token>
//       --nimbo-brightness-range-v1 100 --nimbo-brightness-ack-only
// False with the reason in `error` when the words do not form a request.
[[nodiscard]] bool ParseDisplayBrightnessRequest(const std::vector<std::wstring>& arguments,
                                                 DisplayBrightnessRequest& request,
                                                 std::string& error);

// "brightness" and "maximum" are always present (null when unknown, and a
// zero maximum is unknown); "capabilityCache" only once the range was read or
// the token could not be trusted, as null when there is no token to hand out.
[[nodiscard]] nlohmann::json BrightnessResultToJson(const DisplayBrightnessResult& result);

void PrintBrightnessResult(std::ostream& out, const DisplayBrightnessResult& result);

}  // namespace nimbo
