#pragma once
// The --nimbo-display-brightness decisions: when a cached raw range may stand
// in for a read, when a token may be handed to the host, and how percentages
// map onto the monitor's raw VCP 10 range. Every effect goes through
// DisplayBrightnessIo, so scripted operations run exactly the decisions the
// ports do.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace nimbo {

enum class DisplayBrightnessAction : std::uint32_t { Status = 0, Set = 1 };

struct DisplayBrightnessRequest {
    DisplayBrightnessAction action = DisplayBrightnessAction::Status;
    std::int32_t level = 0;
    std::wstring displayId{};
    std::string capabilityHint{};  // a "b1" token from an earlier run, UTF-8
    std::optional<std::uint32_t> rangeMaximum{};
    bool ackOnly = false;
};

struct DisplayBrightnessResult {
    bool success = false;
    bool supported = false;  // a usable raw range is known
    std::wstring displayId{};
    std::optional<std::int32_t> brightness{};
    std::optional<std::uint32_t> maximum{};
    std::optional<std::int32_t> requestedLevel{};
    bool reportCapabilityCache = false;
    std::optional<std::string> capabilityToken{};
    std::optional<std::uint32_t> nativeError{};
    std::string errorCode{};
    std::string errorMessage{};
};

// The engine's only way to reach the monitor. Production binds them to the
// resolved candidate and one physical-monitor holder.
struct DisplayBrightnessIo {
    std::function<bool()> isCurrent;
    std::function<std::optional<std::string>()> buildToken;
    std::function<bool()> acquire;
    std::function<bool(std::uint32_t& current, std::uint32_t& maximum)> read;
    std::function<bool(std::uint32_t value)> write;
    std::function<void()> settle;
};

// Raw value -> percent, halves away from zero; `maximum` must not be 0.
//   (128, 255) -> 50, (1, 3) -> 33, (2, 3) -> 67
[[nodiscard]] std::int32_t BrightnessPercent(std::uint32_t current, std::uint32_t maximum);

// Percent -> raw value, halves up; 100 and above give exactly `maximum`.
//   (50, 255) -> 128, (0, 255) -> 0, (100, 3) -> 3
[[nodiscard]] std::uint32_t BrightnessRaw(std::int32_t level, std::uint32_t maximum);

// Runs one request on the monitor bound in `io`. `request.displayId` must be
// the resolved device id; it becomes the result's.
[[nodiscard]] DisplayBrightnessResult RunBrightnessEngine(const DisplayBrightnessRequest& request,
                                                          const DisplayBrightnessIo& io);

}  // namespace nimbo
