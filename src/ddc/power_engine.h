#pragma once
// The --nimbo-display-power decisions: which monitor, whether it may be
// written, how a waking monitor is chased and how the result is verified.
// Every effect goes through DisplayPowerIo (and TryAcquireValidated through
// PowerValidationOps), so scripted operations and a fake clock run exactly the
// decisions the ports do.

#include "ddc/capabilities.h"
#include "ddc/ddc_target.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace nimbo {

enum class DisplayPowerState { Unknown = 0, On = 1, Off = 2 };

enum class DisplayPowerAcquireOutcome {
    Ok = 0,
    NotAcquired = 1,  // not (or no longer) exactly the resolved monitor
    WriteFailed = 2,
    Cancelled = 3,
    CapabilityNotConfirmed = 4,  // a write was asked for; nothing was written
};

// The words status and reconcile are both Read.
enum class DisplayPowerAction : std::uint32_t { Read = 0, On = 1, Off = 2 };

struct DisplayPowerRequest {
    DisplayPowerAction action = DisplayPowerAction::Read;
    std::wstring displayId{};
    std::string capabilityHint{};  // a "p1" token from an earlier run, UTF-8
    bool stateOnly = false;
};

struct DisplayPowerResult {
    bool success = false;
    bool supported = false;
    std::wstring displayId{};
    DisplayPowerState state = DisplayPowerState::Unknown;
    std::optional<DisplayPowerState> requestedState{};
    std::optional<std::uint32_t> nativeError{};
    std::string errorCode{};
    std::string errorMessage{};
    std::optional<std::string> capabilityToken{};
};

// D6 values that mean on and off.
inline constexpr std::uint32_t kD6PowerOn = 1;
inline constexpr std::uint32_t kD6PowerOff = 4;

// Raw D6 value -> state: 1 is On, 2 to 5 (standby, suspend, off, power off)
// are Off, anything else Unknown.
[[nodiscard]] DisplayPowerState PowerStateFromD6(std::uint32_t raw);

// The GetLastError of the last failed D6 read or write in this process; 0 when
// none failed since the engine started. The result line carries it.
extern std::uint32_t lastDdcNativeError;

using PowerTime = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;

// The engine's only way to reach the system. A null pointer argument skips the
// step it stands for.
struct DisplayPowerIo {
    std::function<NimboDdcResolution(const std::wstring& displayId)> resolve;
    std::function<DisplayPowerAcquireOutcome(const NimboDdcCandidate&, DisplayPowerState* stateOut,
                                             DisplayPowerCapability* capabilityOut,
                                             std::uint32_t* writeValue)>
        acquire;
    std::function<PowerTime()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<bool()> cancelRequested;
    std::function<DisplayPowerAcquireOutcome(
        const NimboDdcCandidate&, DisplayPowerState* stateOut,
        DisplayPowerCapability* capabilityOut, std::uint32_t* writeValue,
        const std::string& capabilityHint, std::optional<std::string>& issuedToken)>
        acquireValidated;
};

// What TryAcquireValidated may do to one candidate. The production set is
// bound to the candidate, one physical-monitor holder and the cancel poll.
struct PowerValidationOps {
    std::function<bool()> isCurrent;
    std::function<std::optional<std::string>()> buildToken;
    std::function<bool()> acquirePhysical;
    std::function<DisplayPowerCapability()> checkCapability;
    std::function<void(DisplayPowerState&)> readState;
    std::function<bool(std::uint32_t value)> write;
    std::function<bool()> cancel;
};

// Acquires the candidate bound in `ops` and proves, with three token snapshots
// around the capability verdict, that it stayed the same plug-in instance
// before anything is written. A hint equal to the current token stands in for
// the slow capabilities read of an off write; a token is issued only when the
// capabilities themselves were read and said Supported. `capabilityOut` must
// not be null.
[[nodiscard]] DisplayPowerAcquireOutcome TryAcquireValidated(
    const PowerValidationOps& ops, DisplayPowerState* stateOut,
    DisplayPowerCapability* capabilityOut, std::uint32_t* writeValue,
    const std::string& capabilityHint, std::optional<std::string>& issuedToken);

// The engine's bookkeeping for one run.
struct PowerRun {
    DisplayPowerAction action = DisplayPowerAction::Read;
    bool cancelled = false;
    bool writeAttempted = false;
    bool writeSucceeded = false;
    DisplayPowerAcquireOutcome writeOutcome = DisplayPowerAcquireOutcome::NotAcquired;
    PowerTime lastWriteTime{};
    int resends = 0;
};

// One D6 write through io.acquire with its bookkeeping; nothing once cancelled.
void AttemptPowerWrite(const DisplayPowerIo& io, PowerRun& run, const NimboDdcCandidate& candidate,
                       std::uint32_t value);

// Resolves `displayId` again and reads D6 on what comes back; Unknown when
// anything on the way fails or the run is cancelled.
[[nodiscard]] DisplayPowerState ReadPowerStateFresh(const DisplayPowerIo& io, PowerRun& run,
                                                    const std::wstring& displayId);

// Fills the cancellation failure into `result` (keeping supported, displayId
// and the token), prints it on `out` and returns the exit code 1.
int ReportPowerCancelled(DisplayPowerAction action, DisplayPowerResult& result, std::ostream& out);

// Runs one request, prints its "[VXNimboPower]" line on `out` and returns the
// exit code: 0 success, 1 failure (also cancel and exceptions), 2 for
// state-only combined with anything but a plain read.
[[nodiscard]] int RunDisplayPowerEngine(const DisplayPowerRequest& request,
                                        const DisplayPowerIo& io, std::ostream& out);

}  // namespace nimbo
