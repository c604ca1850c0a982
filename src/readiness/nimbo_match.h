#pragma once
// Which enumerated displays are Nimbo displays: the readiness check lists all
// of them, the ensure command needs exactly one. Readiness has its own rule
// (friendly name and exact-case model ids), unlike the identity keys of the
// desktop and DDC/CI commands.

#include "displays/display_info.h"
#include "readiness/camera_probe.h"

#include <cstdint>
#include <string>
#include <vector>

namespace nimbo {

enum class NimboDisplayClass { None = 0, Backup = 1, Exact = 2 };

struct NimboDisplay {
    std::uint32_t displayIndex = 0;
    std::string friendlyName;
    std::string manufacturerCode;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int32_t refreshRate = 0;
    bool ready = false;  // true for every listed display
};

struct NimboCandidate {
    std::string id;  // "nimbo:" + camera serial, or empty
    std::string serialNumber;
    std::int32_t cameraId = -1;
    bool cameraReady = false;
    // The display part, meaningful only when display.ready (a candidate
    // without a display reports no index).
    NimboDisplay display;
    bool ready = false;
};

struct NimboTargetMatch {
    std::int32_t position = -1;
    std::string errorCode;
    std::string errorMessage;
};

// Exact: "Korvo Nimbo" in the friendly name, or model id exactly KZV1A07 or
// KZV2B09. Backup: a model id starting with "KZV" and "UHD" in the friendly
// name. Case-sensitive throughout.
[[nodiscard]] NimboDisplayClass ClassifyNimboDisplay(const DisplayInfo& display);

// Every Exact or Backup display in enumeration order, duplicates kept.
[[nodiscard]] std::vector<NimboDisplay> ListNimboDisplays(const std::vector<DisplayInfo>& displays);

// Pairs the camera with the displays by position: only the first display gets
// the camera, and is ready only when the camera's serial is known.
[[nodiscard]] std::vector<NimboCandidate> PairNimboCandidates(
    const NimboCamera& camera, const std::vector<NimboDisplay>& displays);

// Exactly one Nimbo display of the best class (Exact over Backup), an output
// listed twice under one name counting once; otherwise NO_NIMBO_TARGET or
// AMBIGUOUS_NIMBO_TARGET. `targetNamed`: the request carried an id.
[[nodiscard]] NimboTargetMatch MatchNimboTarget(const std::vector<DisplayInfo>& displays,
                                                bool targetNamed);

}  // namespace nimbo
