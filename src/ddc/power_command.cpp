#include "ddc/power_command.h"

#include "ddc/power_request.h"
#include "ddc/vcp_feature.h"
#include "platform/console.h"
#include "platform/monitor_configuration.h"
#include "platform/platform.h"
#include "platform/standard_input.h"
#include "platform/steady_clock.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <span>

namespace nimbo {
namespace {

using Outcome = DisplayPowerAcquireOutcome;
constexpr const char* kPowerLogTag = "[NimboPower]";
constexpr VcpFeature kD6Feature{.code = 0xD6, .tag = kPowerLogTag, .name = "D6"};
constexpr std::size_t kCancelReadLimit = 1024;
constexpr std::string_view kCancelLine = "cancel";

// One acquisition of the candidate's physical monitor for the steps asked
// for; the monitor is released when this returns, on every path.
Outcome AcquireForPower(lenticor::MonitorConfiguration& api, lenticor::Console& console,
                        const NimboDdcCandidate& candidate, DisplayPowerState* stateOut,
                        DisplayPowerCapability* capabilityOut, std::uint32_t* writeValue,
                        const CancelPoll& cancel) {
    if (Cancelled(cancel))
        return Outcome::Cancelled;
    const OwnedPhysicalMonitors held =
        AcquireSinglePhysicalMonitor(api, console, candidate.monitor, kPowerLogTag, cancel);
    if (Cancelled(cancel))
        return Outcome::Cancelled;
    if (!held.owned())
        return Outcome::NotAcquired;
    if (capabilityOut != nullptr)
        *capabilityOut = CheckPowerCapability(api, console, held.handle(), cancel);
    if (Cancelled(cancel))
        return Outcome::Cancelled;
    auto& err = console.Err();
    if (writeValue != nullptr && !WriteD6PowerValue(api, held.handle(), *writeValue, err)) {
        return Outcome::WriteFailed;
    }
    if (stateOut != nullptr && !Cancelled(cancel))
        *stateOut = ReadD6PowerState(api, held.handle(), err);
    return Outcome::Ok;
}

// TryAcquireValidated on the ports. Every step that needs the handle works on
// the one holder, which a later acquisition replaces and which goes away with
// this call.
Outcome AcquireValidatedForPower(lenticor::Platform& platform, const NimboDdcCandidate& candidate,
                                 DisplayPowerState* stateOut, DisplayPowerCapability* capabilityOut,
                                 std::uint32_t* writeValue, const std::string& capabilityHint,
                                 std::optional<std::string>& issuedToken,
                                 const CancelPoll& cancel) {
    OwnedPhysicalMonitors held;
    auto& api = platform.monitorConfiguration;
    auto& err = platform.console.Err();
    const PowerValidationOps ops{
        .isCurrent =
            [&] {
                return IsDdcCandidateCurrent(platform.monitors, platform.displayDevices,
                                             platform.console, candidate);
            },
        .buildToken =
            [&] {
                return BuildCapabilityToken(platform.monitors, platform.displayDevices,
                                            platform.configManager, candidate, "p1");
            },
        .acquirePhysical =
            [&] {
                held = AcquireSinglePhysicalMonitor(api, platform.console, candidate.monitor,
                                                    kPowerLogTag, cancel);
                return held.owned();
            },
        .checkCapability =
            [&] { return CheckPowerCapability(api, platform.console, held.handle(), cancel); },
        .readState =
            [&](DisplayPowerState& state) { state = ReadD6PowerState(api, held.handle(), err); },
        .write =
            [&](std::uint32_t value) { return WriteD6PowerValue(api, held.handle(), value, err); },
        .cancel = [&] { return Cancelled(cancel); },
    };
    return TryAcquireValidated(ops, stateOut, capabilityOut, writeValue, capabilityHint,
                               issuedToken);
}

}  // namespace

bool StdinCancelWatcher::Poll() {
    if (cancelled_)
        return true;
    if (pipe_ == nullptr)
        return false;
    std::uint32_t available = 0;
    // When the host closes its end of the pipe, PeekNamedPipe fails with
    // ERROR_BROKEN_PIPE as soon as the pipe is empty, instead of reporting
    // nothing to read. A closed pipe is no cancel: the watcher stops
    // listening and the request runs on.
    if (!pipe_->PeekAvailable(available)) {
        pipe_ = nullptr;
        return false;
    }
    if (available == 0)
        return false;
    std::array<char, kCancelReadLimit> buffer{};
    const std::size_t wanted = std::min<std::size_t>(available, buffer.size());
    std::uint32_t read = 0;
    if (!pipe_->Read(std::span(buffer.data(), wanted), read)) {
        pipe_ = nullptr;
        return false;
    }
    for (const char byte : std::span(buffer.data(), std::min<std::size_t>(read, wanted))) {
        if (byte == '\n') {
            if (!discarding_ && line_ == kCancelLine)
                cancelled_ = true;
            line_.clear();
            discarding_ = false;
        } else if (!discarding_) {
            if (line_.size() == kCancelLine.size()) {
                line_.clear();
                discarding_ = true;
            } else {
                line_.push_back(byte);
            }
        }
    }
    return cancelled_;
}

void SleepUnlessCancelled(lenticor::SteadyClock& clock, std::chrono::milliseconds duration,
                          const CancelPoll& cancel) {
    using std::chrono::nanoseconds;
    constexpr nanoseconds kSlice = std::chrono::milliseconds(10);
    const std::int64_t deadline = clock.NowNanoseconds() + nanoseconds(duration).count();
    if (Cancelled(cancel))
        return;
    for (;;) {
        const std::int64_t now = clock.NowNanoseconds();
        const nanoseconds remaining(deadline - now);
        if (remaining <= nanoseconds::zero())
            return;
        const auto slice =
            std::chrono::ceil<std::chrono::milliseconds>(std::min(remaining, kSlice));
        clock.SleepUntil(now + nanoseconds(slice).count());
        if (Cancelled(cancel))
            return;
    }
}

DisplayPowerState ReadD6PowerState(lenticor::MonitorConfiguration& api,
                                   lenticor::PhysicalMonitorHandle monitor, std::ostream& err) {
    const auto reading = ReadVcpFeature(api, monitor, kD6Feature, err, lastDdcNativeError);
    if (!reading)
        return DisplayPowerState::Unknown;
    const DisplayPowerState state = PowerStateFromD6(reading->current);
    if (reading->current < 1 || reading->current > 5)
        err << kPowerLogTag << " D6 read returned unknown raw value=" << reading->current
            << std::endl;
    return state;
}

bool WriteD6PowerValue(lenticor::MonitorConfiguration& api, lenticor::PhysicalMonitorHandle monitor,
                       std::uint32_t value, std::ostream& err) {
    return WriteVcpFeature(api, monitor, kD6Feature, value, err, lastDdcNativeError);
}

int NimboDisplayPowerCommand::Execute(lenticor::Platform& platform,
                                      const DisplayPowerRequest& request) {
    // A read never listens: the host only cancels requests that would write.
    const bool watchInput =
        request.action != DisplayPowerAction::Read && platform.standardInput.IsPipe();
    StdinCancelWatcher watcher(watchInput ? &platform.standardInput : nullptr);
    const CancelPoll cancel = [&watcher] { return watcher.Poll(); };

    const DisplayPowerIo io{
        .resolve =
            [&platform](const std::wstring& displayId) {
                return ResolveNimboDdcTarget(platform.monitors, platform.displayDevices,
                                             platform.console, displayId);
            },
        .acquire =
            [&platform, &cancel](const NimboDdcCandidate& candidate, DisplayPowerState* stateOut,
                                 DisplayPowerCapability* capabilityOut, std::uint32_t* writeValue) {
                return AcquireForPower(platform.monitorConfiguration, platform.console, candidate,
                                       stateOut, capabilityOut, writeValue, cancel);
            },
        .now =
            [&platform] {
                return PowerTime(std::chrono::nanoseconds(platform.steadyClock.NowNanoseconds()));
            },
        .sleep =
            [&platform, &cancel](std::chrono::milliseconds duration) {
                SleepUnlessCancelled(platform.steadyClock, duration, cancel);
            },
        .cancelRequested = cancel,
        .acquireValidated =
            [&platform, &cancel](const NimboDdcCandidate& candidate, DisplayPowerState* stateOut,
                                 DisplayPowerCapability* capabilityOut, std::uint32_t* writeValue,
                                 const std::string& capabilityHint,
                                 std::optional<std::string>& issuedToken) {
                return AcquireValidatedForPower(platform, candidate, stateOut, capabilityOut,
                                                writeValue, capabilityHint, issuedToken, cancel);
            },
    };
    return Execute(request, io, platform.console.Out());
}

int NimboDisplayPowerCommand::Execute(const DisplayPowerRequest& request, const DisplayPowerIo& io,
                                      std::ostream& out) {
    return RunDisplayPowerEngine(request, io, out);
}

lenticor::Command MakeDisplayPowerCommand() {
    return lenticor::MakeParsedCommand<DisplayPowerRequest>(
        L"--nimbo-display-power",
        {.parse = ParseDisplayPowerRequest,
         .run =
             [](lenticor::Platform& platform, const DisplayPowerRequest& request) {
                 return NimboDisplayPowerCommand::Execute(platform, request);
             },
         .defaultResult =
             [](const DisplayPowerRequest&) { return PowerResultToJson(DisplayPowerResult{}); },
         .tag = kPowerResultTag,
         .handling = lenticor::Utf8Handling::Replace});
}

}  // namespace nimbo
