#include "ddc/brightness_engine.h"

#include <cmath>
#include <string_view>

namespace nimbo {
namespace {

constexpr std::string_view kTokenPrefix = "b1:";
constexpr const char* kUnavailable = "DDC_UNAVAILABLE";
constexpr const char* kReadFailed = "DDC_READ_FAILED";
constexpr const char* kChangedDuringRead = "monitor connection changed during brightness read";

struct BrightnessRun {
    const DisplayBrightnessIo& io;
    DisplayBrightnessResult& result;
    std::optional<std::string> tokenFirst{};
    std::optional<std::string> tokenLatest{};
    std::optional<std::string> tokenAtStart{};
    bool tokenValid = true;
    std::uint32_t current = 0;
    std::uint32_t maximum = 0;
    bool usedHint = false;
};

// Returns false so that callers can end the run in one statement.
bool Fail(DisplayBrightnessResult& result, const char* code, const char* message) {
    result.success = false;
    result.errorCode = code;
    result.errorMessage = message;
    return false;
}

// An absent token cannot prove a replug, so it only withholds the token; two
// present tokens that differ mean another plug-in instance.
bool RevalidateBrightnessTarget(BrightnessRun& run) {
    if (!run.io.isCurrent())
        return false;
    run.tokenLatest = run.io.buildToken();
    if (run.tokenLatest && !run.tokenLatest->starts_with(kTokenPrefix))
        run.tokenLatest.reset();
    if (!run.tokenLatest)
        run.tokenValid = false;
    if (!run.tokenFirst) {
        run.tokenFirst = run.tokenLatest;
        return true;
    }
    return !run.tokenLatest || *run.tokenLatest == *run.tokenFirst;
}

// Reading the range is what a token vouches for, so the host hears about the
// cache from here on, even as null.
bool ReadBrightnessRange(BrightnessRun& run) {
    run.result.reportCapabilityCache = true;
    const bool ok = run.io.read(run.current, run.maximum);
    if (ok && run.maximum > 0) {
        run.result.supported = true;
        run.result.maximum = run.maximum;
        return true;
    }
    return Fail(
        run.result, kReadFailed,
        ok ? "monitor reported a zero brightness range" : "could not read VCP 10 brightness");
}

void IssueBrightnessToken(BrightnessRun& run) {
    if (run.result.reportCapabilityCache && run.tokenValid && run.tokenFirst == run.tokenLatest)
        run.result.capabilityToken = run.tokenLatest;
}

bool ValidateAndReadRange(BrightnessRun& run, const DisplayBrightnessRequest& request) {
    if (!RevalidateBrightnessTarget(run))
        return Fail(run.result, kUnavailable, "resolved monitor is no longer active");
    run.tokenAtStart = run.tokenLatest;
    if (!run.io.acquire())
        return Fail(run.result, kUnavailable, "could not acquire exactly one physical monitor");
    if (!RevalidateBrightnessTarget(run))
        return Fail(run.result, kUnavailable, "monitor connection changed during acquisition");
    const bool hintMatches = run.tokenAtStart && run.tokenLatest &&
                             *run.tokenLatest == *run.tokenAtStart &&
                             request.capabilityHint == *run.tokenLatest;
    if (!RevalidateBrightnessTarget(run))
        return Fail(run.result, kUnavailable, "monitor connection changed during validation");
    if (hintMatches && request.action == DisplayBrightnessAction::Set && request.rangeMaximum) {
        run.usedHint = true;
        run.maximum = *request.rangeMaximum;
        run.result.supported = true;
        run.result.maximum = run.maximum;
    } else if (!ReadBrightnessRange(run)) {
        return false;
    }
    if (!RevalidateBrightnessTarget(run))
        return Fail(run.result, kUnavailable, kChangedDuringRead);
    // A cached range is only trusted while a token ties it to this instance.
    if (run.usedHint && !run.tokenLatest) {
        if (!ReadBrightnessRange(run))
            return false;
        if (!RevalidateBrightnessTarget(run))
            return Fail(run.result, kUnavailable, kChangedDuringRead);
    }
    return true;
}

void ReportStatus(BrightnessRun& run) {
    if (run.maximum == 0 || run.current > run.maximum) {
        Fail(run.result, kReadFailed, "monitor reported a brightness outside its own range");
        return;
    }
    run.result.brightness = BrightnessPercent(run.current, run.maximum);
    run.result.success = true;
    IssueBrightnessToken(run);
}

void SetLevel(BrightnessRun& run, const DisplayBrightnessRequest& request) {
    if (!run.io.write(BrightnessRaw(request.level, run.maximum))) {
        Fail(run.result, "DDC_WRITE_FAILED", "SetVCPFeature failed");
        return;
    }
    run.result.success = true;
    run.result.supported = true;
    if (!request.ackOnly) {
        run.io.settle();
        std::uint32_t current = 0;
        std::uint32_t maximum = 0;
        // The write already happened; a failed read-back only costs the echo.
        if (run.io.read(current, maximum) && maximum > 0) {
            run.result.maximum = maximum;
            if (current <= maximum)
                run.result.brightness = BrightnessPercent(current, maximum);
        }
    }
    if (!RevalidateBrightnessTarget(run)) {
        // Whatever was read back may come from another monitor instance.
        run.result.brightness.reset();
        run.result.reportCapabilityCache = true;
        return;
    }
    IssueBrightnessToken(run);
    if (!run.tokenValid)
        run.result.reportCapabilityCache = true;
}

}  // namespace

std::int32_t BrightnessPercent(std::uint32_t current, std::uint32_t maximum) {
    return static_cast<std::int32_t>(std::lround(current * 100.0 / maximum));
}

std::uint32_t BrightnessRaw(std::int32_t level, std::uint32_t maximum) {
    if (level <= 0)
        return 0;
    if (level >= 100)
        return maximum;
    return static_cast<std::uint32_t>(level * static_cast<double>(maximum) / 100.0 + 0.5);
}

DisplayBrightnessResult RunBrightnessEngine(const DisplayBrightnessRequest& request,
                                            const DisplayBrightnessIo& io) {
    DisplayBrightnessResult result;
    result.displayId = request.displayId;
    if (request.action == DisplayBrightnessAction::Set)
        result.requestedLevel = request.level;
    BrightnessRun run{.io = io, .result = result};
    if (!ValidateAndReadRange(run, request))
        return result;
    if (request.action == DisplayBrightnessAction::Set) {
        SetLevel(run, request);
    } else {
        ReportStatus(run);
    }
    return result;
}

}  // namespace nimbo
