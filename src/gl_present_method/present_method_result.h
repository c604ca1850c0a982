#pragma once
// What a --gl-present-method run reports: one "[VXGlPresentMethod]" line.

#include "gl_present_method/present_method_request.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace lenticor::gl_present_method {

class IDriverProfiles;

inline constexpr const char* kPresentMethodResultTag = "[VXGlPresentMethod]";

struct PresentMethodResult {
    PresentMethodAction action = PresentMethodAction::Status;
    std::wstring exe;
    bool success = false;
    bool changed = false;                // this run changed the driver or the undo record
    std::string profile = "none";        // "none", "existing" or "own"
    std::optional<std::uint32_t> value;  // stored in the exe's own profile
    bool undoPending = false;            // an undo record exists for the exe
    bool sharedProfile = false;
    std::string api;  // detect only: "vulkan", "opengl" or "other"
    std::string errorCode;
    std::string errorMessage;
};

// Members in written order: action, api (when set), changed, errorCode and
// errorMessage (on failure), exe, profile, sharedProfile (only when true),
// success, undoPending, value (when present). Absent values are omitted,
// never null. errorMessage may carry bytes of an undo record as they were
// stored; serialise with Utf8Handling::Replace so they become U+FFFD.
[[nodiscard]] nlohmann::json PresentMethodResultToJson(const PresentMethodResult& result);

// Marks the result failed with these texts; every other field keeps what the
// run had found so far.
void FailResult(PresentMethodResult& result, std::string errorCode, std::string errorMessage);

// FailResult for a driver refusal, naming the driver's last NvAPI status:
// " (NvAPI status -5)" is appended for any non-zero status, and a refusal
// for lack of rights (-137) becomes "ELEVATION_REQUIRED" so the host can
// offer to run elevated.
void FailResultWithDriverStatus(PresentMethodResult& result, const IDriverProfiles& driver,
                                std::string errorCode, std::string errorMessage);

void WritePresentMethodResult(std::ostream& out, const PresentMethodResult& result);

}  // namespace lenticor::gl_present_method
