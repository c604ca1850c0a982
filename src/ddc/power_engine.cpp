#include "ddc/power_engine.h"

#include "app/text.h"
#include "ddc/power_request.h"

#include <exception>
#include <ostream>

namespace nimbo {

std::uint32_t lastDdcNativeError = 0;

DisplayPowerState PowerStateFromD6(std::uint32_t raw) {
    if (raw == 1)
        return DisplayPowerState::On;
    if (raw >= 2 && raw <= 5)
        return DisplayPowerState::Off;
    return DisplayPowerState::Unknown;
}

namespace {

using Outcome = DisplayPowerAcquireOutcome;
using Capability = DisplayPowerCapability;
using State = DisplayPowerState;
using namespace std::chrono_literals;

constexpr int kExitUsage = 2;
// A waking monitor may take seconds to answer DDC/CI and may re-enumerate on
// the way; these bound how long and how hard it is chased.
constexpr auto kWakeDeadline = 15s;
constexpr auto kWakeRound = 750ms;
constexpr auto kResendQuietTime = 1500ms;
constexpr int kMaxResends = 2;
constexpr int kOffRounds = 12;
constexpr auto kOffRound = 250ms;

// An absent snapshot proves nothing either way; only two present tokens can
// disagree.
bool PresentAndDiffer(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a && b && *a != *b;
}

bool WritesPower(DisplayPowerAction action) {
    return action != DisplayPowerAction::Read;
}

// Only on and off requests listen to the host; a read never gets cancelled by
// the input, though an acquisition may still report Cancelled.
bool CancelCheck(const DisplayPowerIo& io, PowerRun& run) {
    if (WritesPower(run.action) && io.cancelRequested())
        run.cancelled = true;
    return run.cancelled;
}

void Fail(DisplayPowerResult& result, std::string code, std::string message) {
    result.errorCode = std::move(code);
    result.errorMessage = std::move(message);
}

int Report(const DisplayPowerResult& result, std::ostream& out) {
    PrintPowerResult(out, result);
    return result.success ? 0 : 1;
}

// The monitor may have been replugged onto another HMONITOR between the read
// and now; a state read from a monitor we cannot re-identify is not reported.
int ReportStateOnly(const DisplayPowerIo& io, const NimboDdcCandidate& candidate,
                    DisplayPowerResult& result, std::ostream& out) {
    State state = State::Unknown;
    const Outcome outcome = io.acquire(candidate, &state, nullptr, nullptr);
    bool retained = false;
    if (outcome == Outcome::Ok) {
        const NimboDdcResolution again = io.resolve(result.displayId);
        retained = again.candidate && again.candidate->monitor == candidate.monitor &&
                   lenticor::ToLowerWide(again.candidate->deviceId) ==
                       lenticor::ToLowerWide(result.displayId);
    }
    if (!retained) {
        Fail(result, "DDC_UNAVAILABLE", "could not retain exactly one current physical monitor");
    } else if (state == State::Unknown) {
        Fail(result, "DDC_READ_FAILED", "could not read VCP D6 power state");
    } else {
        result.success = true;
        result.state = state;
    }
    return Report(result, out);
}

// A monitor in standby may drop off the bus while it wakes and come back under
// a new HMONITOR, so every round resolves it again by its id. The write is
// repeated only after the monitor had time to act on the last one.
void WakeMonitor(const DisplayPowerIo& io, PowerRun& run, const NimboDdcCandidate& first,
                 DisplayPowerResult& result) {
    AttemptPowerWrite(io, run, first, kD6PowerOn);
    const PowerTime deadline = io.now() + kWakeDeadline;
    const auto stop = [&] { return CancelCheck(io, run) || io.now() >= deadline; };
    while (!stop()) {
        const NimboDdcResolution round = io.resolve(result.displayId);
        if (stop())
            return;
        if (round.candidate) {
            if (!run.writeSucceeded) {
                AttemptPowerWrite(io, run, *round.candidate, kD6PowerOn);
                if (CancelCheck(io, run))
                    return;
            }
            if (run.writeSucceeded) {
                State seen = State::Unknown;
                const Outcome read = io.acquire(*round.candidate, &seen, nullptr, nullptr);
                if (read == Outcome::Cancelled)
                    run.cancelled = true;
                if (read == Outcome::Ok && seen == State::On) {
                    result.state = State::On;
                    return;
                }
                const PowerTime at = io.now();
                if (read == Outcome::Ok && seen == State::Off && run.resends < kMaxResends &&
                    !run.cancelled && at < deadline && at - run.lastWriteTime >= kResendQuietTime) {
                    const NimboDdcResolution resend = io.resolve(result.displayId);
                    if (stop())
                        return;
                    if (resend.candidate) {
                        ++run.resends;
                        AttemptPowerWrite(io, run, *resend.candidate, kD6PowerOn);
                    }
                }
            }
        }
        if (stop())
            return;
        io.sleep(kWakeRound);
    }
}

// Monitors acknowledge the off write before they actually go to standby;
// reading back tells the host whether it really happened.
void VerifyOff(const DisplayPowerIo& io, PowerRun& run, DisplayPowerResult& result) {
    if (run.writeOutcome != Outcome::Ok || CancelCheck(io, run))
        return;
    for (int round = 0; round < kOffRounds; ++round) {
        if (CancelCheck(io, run))
            return;
        io.sleep(kOffRound);
        if (CancelCheck(io, run))
            return;
        if (ReadPowerStateFresh(io, run, result.displayId) == State::Off) {
            result.state = State::Off;
            return;
        }
    }
}

int RunSteps(const DisplayPowerRequest& request, const DisplayPowerIo& io, std::ostream& out) {
    lastDdcNativeError = 0;
    DisplayPowerResult result;
    result.displayId = request.displayId;
    PowerRun run{.action = request.action};
    const bool off = request.action == DisplayPowerAction::Off;

    if (request.stateOnly &&
        (request.action != DisplayPowerAction::Read || !request.capabilityHint.empty())) {
        Fail(result, "INVALID_ARGUMENT", "state-only requires a read without a capability hint");
        PrintPowerResult(out, result);
        return kExitUsage;
    }
    if (CancelCheck(io, run))
        return ReportPowerCancelled(request.action, result, out);

    const NimboDdcResolution resolution = io.resolve(request.displayId);
    if (resolution.candidate)
        result.displayId = resolution.candidate->deviceId;
    if (CancelCheck(io, run))
        return ReportPowerCancelled(request.action, result, out);
    if (!resolution.candidate) {
        DisplayPowerResult unresolved;
        Fail(unresolved, resolution.errorCode, resolution.errorMessage);
        return Report(unresolved, out);
    }
    const NimboDdcCandidate& candidate = *resolution.candidate;
    if (request.stateOnly)
        return ReportStateOnly(io, candidate, result, out);

    Capability capability = Capability::Unavailable;
    State observed = State::Unknown;
    Outcome outcome = Outcome::NotAcquired;
    // The host names the monitor explicitly when it wakes one it switched off
    // itself; its capabilities were validated then, and a monitor in standby
    // often cannot answer a capabilities request at all.
    const bool skipValidation =
        request.action == DisplayPowerAction::On && resolution.explicitDisplayId;
    if (request.action == DisplayPowerAction::On && !skipValidation) {
        outcome = io.acquire(candidate, nullptr, &capability, nullptr);
    } else if (request.action == DisplayPowerAction::Read) {
        outcome = io.acquireValidated(candidate, &observed, &capability, nullptr, std::string(),
                                      result.capabilityToken);
    } else if (off) {
        std::uint32_t value = kD6PowerOff;
        const std::string hint = resolution.explicitDisplayId ? request.capabilityHint : "";
        outcome = io.acquireValidated(candidate, nullptr, &capability, &value, hint,
                                      result.capabilityToken);
    }

    if (!skipValidation) {
        if (outcome == Outcome::Cancelled)
            run.cancelled = true;
        const bool writtenNow = off && capability == Capability::Supported &&
                                (outcome == Outcome::Ok || outcome == Outcome::WriteFailed);
        if (CancelCheck(io, run) && !writtenNow)
            return ReportPowerCancelled(request.action, result, out);
        if (outcome != Outcome::Ok && outcome != Outcome::CapabilityNotConfirmed &&
            !(off && outcome == Outcome::WriteFailed)) {
            Fail(result, "DDC_UNAVAILABLE", "could not acquire exactly one physical monitor");
            return Report(result, out);
        }
    }

    result.supported = capability == Capability::Supported;
    result.state = observed;
    if (capability == Capability::Unsupported) {
        Fail(result, "DDC_POWER_UNSUPPORTED",
             "monitor capabilities do not advertise D6 values 01 and 04");
        return Report(result, out);
    }
    if (request.action == DisplayPowerAction::Read) {
        if (capability == Capability::Unavailable) {
            Fail(result, "DDC_CAPABILITY_UNAVAILABLE", "could not read monitor capabilities");
        } else if (observed == State::Unknown) {
            Fail(result, "DDC_READ_FAILED", "could not read VCP D6 power state");
        } else {
            result.success = true;
        }
        return Report(result, out);
    }

    const State requested = off ? State::Off : State::On;
    result.requestedState = requested;
    if (capability == Capability::Unavailable && !skipValidation) {
        Fail(result, "DDC_CAPABILITY_UNAVAILABLE",
             "capability validation is required before this write");
        return Report(result, out);
    }
    result.state = State::Unknown;
    if (off) {
        run.writeOutcome = outcome;
        run.writeAttempted = outcome == Outcome::Ok || outcome == Outcome::WriteFailed;
        run.writeSucceeded = outcome == Outcome::Ok;
        VerifyOff(io, run, result);
    } else {
        WakeMonitor(io, run, candidate, result);
    }

    if (CancelCheck(io, run) && !run.writeAttempted)
        return ReportPowerCancelled(request.action, result, out);
    if (!run.writeSucceeded) {
        result.state = State::Unknown;
        if (run.writeOutcome == Outcome::WriteFailed) {
            Fail(result, "DDC_WRITE_FAILED", "SetVCPFeature failed");
        } else {
            Fail(result, "DDC_UNAVAILABLE", "could not acquire exactly one physical monitor");
        }
    } else {
        result.success = true;
        if (result.state != requested)
            result.state = State::Unknown;
    }
    return Report(result, out);
}

// After a step of the validated acquisition that must hold: a cancel wins over
// the step's own failure, because the cancel is what the host asked for.
std::optional<Outcome> StopAfterStep(const PowerValidationOps& ops, bool held) {
    if (ops.cancel())
        return Outcome::Cancelled;
    if (!held)
        return Outcome::NotAcquired;
    return std::nullopt;
}

}  // namespace

DisplayPowerAcquireOutcome TryAcquireValidated(const PowerValidationOps& ops,
                                               DisplayPowerState* stateOut,
                                               DisplayPowerCapability* capabilityOut,
                                               std::uint32_t* writeValue,
                                               const std::string& capabilityHint,
                                               std::optional<std::string>& issuedToken) {
    issuedToken.reset();
    *capabilityOut = Capability::Unavailable;
    if (ops.cancel())
        return Outcome::Cancelled;

    if (const auto stop = StopAfterStep(ops, ops.isCurrent()))
        return *stop;
    const std::optional<std::string> a = ops.buildToken();
    if (ops.cancel())
        return Outcome::Cancelled;

    if (const auto stop = StopAfterStep(ops, ops.acquirePhysical()))
        return *stop;
    if (const auto stop = StopAfterStep(ops, ops.isCurrent()))
        return *stop;
    const std::optional<std::string> b = ops.buildToken();
    if (ops.cancel())
        return Outcome::Cancelled;
    if (PresentAndDiffer(a, b))
        return Outcome::NotAcquired;

    // The hint only ever saves the capabilities read of an off write, and only
    // when it names exactly the plug-in instance we hold.
    const bool hintAccepted = writeValue != nullptr && *writeValue == kD6PowerOff && a && b &&
                              *a == *b && !capabilityHint.empty() && capabilityHint == *b;
    bool hintInUse = hintAccepted;
    Capability capability = hintAccepted ? Capability::Supported : ops.checkCapability();
    *capabilityOut = capability;
    if (ops.cancel())
        return Outcome::Cancelled;
    if (writeValue != nullptr && capability != Capability::Supported)
        return Outcome::CapabilityNotConfirmed;

    if (const auto stop = StopAfterStep(ops, ops.isCurrent()))
        return *stop;
    std::optional<std::string> c = ops.buildToken();
    if (ops.cancel())
        return Outcome::Cancelled;

    // Without a third token the hint cannot be tied to the monitor at write
    // time; only the capabilities themselves can vouch for it then.
    if (hintInUse && !c) {
        capability = ops.checkCapability();
        *capabilityOut = capability;
        if (ops.cancel())
            return Outcome::Cancelled;
        if (capability != Capability::Supported)
            return Outcome::CapabilityNotConfirmed;
        if (const auto stop = StopAfterStep(ops, ops.isCurrent()))
            return *stop;
        c = ops.buildToken();
        if (ops.cancel())
            return Outcome::Cancelled;
        hintInUse = false;
    }

    if (PresentAndDiffer(a, c) || PresentAndDiffer(b, c))
        return Outcome::NotAcquired;
    if (hintInUse && b != c)
        return Outcome::NotAcquired;

    // A token vouches for a capabilities read; one that only echoes a hint
    // would let a stale verdict live forever.
    if (!hintAccepted && capability == Capability::Supported && a && b && c && *a == *b &&
        *b == *c) {
        issuedToken = c;
    }
    if (writeValue != nullptr && !ops.write(*writeValue))
        return Outcome::WriteFailed;
    if (stateOut != nullptr) {
        if (ops.cancel())
            return Outcome::Ok;
        ops.readState(*stateOut);
    }
    return Outcome::Ok;
}

void AttemptPowerWrite(const DisplayPowerIo& io, PowerRun& run, const NimboDdcCandidate& candidate,
                       std::uint32_t value) {
    if (WritesPower(run.action) && io.cancelRequested())
        run.cancelled = true;
    if (run.cancelled)
        return;
    std::uint32_t written = value;
    const Outcome outcome = io.acquire(candidate, nullptr, nullptr, &written);
    run.lastWriteTime = io.now();
    if (outcome == Outcome::Cancelled) {
        run.cancelled = true;
        return;
    }
    run.writeAttempted |= outcome == Outcome::Ok || outcome == Outcome::WriteFailed;
    run.writeSucceeded |= outcome == Outcome::Ok;
    run.writeOutcome = outcome;
}

DisplayPowerState ReadPowerStateFresh(const DisplayPowerIo& io, PowerRun& run,
                                      const std::wstring& displayId) {
    const NimboDdcResolution resolution = io.resolve(displayId);
    if (WritesPower(run.action) && io.cancelRequested())
        run.cancelled = true;
    if (run.cancelled || !resolution.candidate)
        return State::Unknown;
    State state = State::Unknown;
    if (io.acquire(*resolution.candidate, &state, nullptr, nullptr) != Outcome::Ok)
        return State::Unknown;
    return state;
}

int ReportPowerCancelled(DisplayPowerAction action, DisplayPowerResult& result, std::ostream& out) {
    result.success = false;
    result.state = State::Unknown;
    result.requestedState = action == DisplayPowerAction::On ? State::On : State::Off;
    Fail(result, "NIMBO_POWER_CANCELLED", "power request cancelled before any D6 write attempt");
    return Report(result, out);
}

int RunDisplayPowerEngine(const DisplayPowerRequest& request, const DisplayPowerIo& io,
                          std::ostream& out) {
    try {
        return RunSteps(request, io, out);
    } catch (const std::exception& error) {
        DisplayPowerResult failed;
        Fail(failed, "NIMBO_POWER_EXCEPTION", error.what());
        return Report(failed, out);
    }
}

}  // namespace nimbo
