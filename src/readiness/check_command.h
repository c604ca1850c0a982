#pragma once
// --check-nimbo: reports every Nimbo display, the Nimbo camera and the
// camera recovery candidates without changing anything.

#include "readiness/camera_probe.h"
#include "readiness/nimbo_match.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace lenticor {
struct Platform;
}

namespace nimbo {

// The check document; "cameraRecoveryCandidates" only when there are some.
[[nodiscard]] nlohmann::json BuildNimboCheckJson(
    const std::vector<NimboCandidate>& candidates,
    const std::vector<CameraRecoveryCandidate>& recovery);

// Writes "[VXNimboCheck]" + the document and returns 0 whatever was found;
// an escaped exception is one stderr line and exit code 1.
[[nodiscard]] int RunNimboCheck(lenticor::Platform& platform);

}  // namespace nimbo
