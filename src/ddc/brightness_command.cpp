#include "ddc/brightness_command.h"

#include "ddc/brightness_request.h"
#include "ddc/ddc_target.h"
#include "ddc/vcp_feature.h"
#include "platform/console.h"
#include "platform/monitor_configuration.h"
#include "platform/platform.h"
#include "platform/steady_clock.h"

#include <chrono>
#include <exception>
#include <ostream>

namespace nimbo {
namespace {

constexpr const char* kBrightnessLogTag = "[NimboBrightness]";
constexpr VcpFeature kBrightnessFeature{.code = 0x10, .tag = kBrightnessLogTag, .name = "VCP 10"};
constexpr std::chrono::nanoseconds kSettleTime = std::chrono::milliseconds(100);

int Report(lenticor::Console& console, const DisplayBrightnessResult& result) {
    PrintBrightnessResult(console.Out(), result);
    return result.success ? lenticor::kExitSuccess : lenticor::kExitFailure;
}

// The caller owns `held` and `nativeError` so that both outlive the engine:
// the monitor is released only after the result line, which carries the error.
DisplayBrightnessIo MonitorIo(lenticor::Platform& platform, const NimboDdcCandidate& candidate,
                              OwnedPhysicalMonitors& held, lenticor::Win32Error& nativeError) {
    auto& api = platform.monitorConfiguration;
    auto& err = platform.console.Err();
    return {
        .isCurrent =
            [&platform, &candidate] {
                return IsDdcCandidateCurrent(platform.monitors, platform.displayDevices,
                                             platform.console, candidate);
            },
        .buildToken =
            [&platform, &candidate] {
                return BuildCapabilityToken(platform.monitors, platform.displayDevices,
                                            platform.configManager, candidate, "b1");
            },
        .acquire =
            [&platform, &candidate, &held] {
                held = AcquireSinglePhysicalMonitor(platform.monitorConfiguration, platform.console,
                                                    candidate.monitor, kBrightnessLogTag,
                                                    CancelPoll{});
                return held.owned();
            },
        .read =
            [&api, &err, &held, &nativeError](std::uint32_t& current, std::uint32_t& maximum) {
                const auto reading =
                    ReadVcpFeature(api, held.handle(), kBrightnessFeature, err, nativeError);
                current = reading ? reading->current : 0;
                maximum = reading ? reading->maximum : 0;
                return reading.has_value();
            },
        .write =
            [&api, &err, &held, &nativeError](std::uint32_t value) {
                return WriteVcpFeature(api, held.handle(), kBrightnessFeature, value, err,
                                       nativeError);
            },
        .settle =
            [&clock = platform.steadyClock] {
                clock.SleepUntil(clock.NowNanoseconds() + kSettleTime.count());
            },
    };
}

}  // namespace

int NimboDisplayBrightnessCommand::Execute(lenticor::Platform& platform,
                                           const DisplayBrightnessRequest& request) {
    DisplayBrightnessResult result;
    if (request.action == DisplayBrightnessAction::Set)
        result.requestedLevel = request.level;
    // Declared before everything that may throw, so the monitor stays held
    // until the result line, whichever line that is, has been written.
    OwnedPhysicalMonitors held;
    lenticor::Win32Error nativeError = lenticor::kErrorSuccess;
    try {
        const NimboDdcResolution resolution = ResolveNimboDdcTarget(
            platform.monitors, platform.displayDevices, platform.console, request.displayId);
        if (!resolution.candidate) {
            result.errorCode = resolution.errorCode;
            result.errorMessage = resolution.errorMessage;
            return Report(platform.console, result);
        }
        const NimboDdcCandidate& candidate = *resolution.candidate;
        result.displayId = candidate.deviceId;
        DisplayBrightnessRequest resolved = request;
        resolved.displayId = candidate.deviceId;
        result = RunBrightnessEngine(resolved, MonitorIo(platform, candidate, held, nativeError));
        if (nativeError != 0)
            result.nativeError = nativeError;
        return Report(platform.console, result);
    } catch (const std::exception& error) {
        result.success = false;
        result.errorCode = "NIMBO_BRIGHTNESS_EXCEPTION";
        result.errorMessage = error.what();
        return Report(platform.console, result);
    }
}

lenticor::Command MakeDisplayBrightnessCommand() {
    return lenticor::MakeParsedCommand<DisplayBrightnessRequest>(
        L"--nimbo-display-brightness",
        {.parse = ParseDisplayBrightnessRequest,
         .run = NimboDisplayBrightnessCommand::Execute,
         .defaultResult =
             [](const DisplayBrightnessRequest&) {
                 return BrightnessResultToJson(DisplayBrightnessResult{});
             },
         .tag = kBrightnessResultTag,
         .handling = lenticor::Utf8Handling::Replace});
}

}  // namespace nimbo
