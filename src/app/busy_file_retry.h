#pragma once
// Antivirus, indexers and backup agents open a file we have just written and
// keep it for up to about two seconds on managed PCs; meanwhile renaming,
// replacing or deleting it fails with ERROR_SHARING_VIOLATION (their open
// shares no delete access) or ERROR_ACCESS_DENIED (a plain replace of a file
// anyone has open). The few calls that meet them are repeated through that
// time in short slices; any other error ends the call at once.

#include <cstdint>

#include "platform/native_codes.h"
#include "platform/steady_clock.h"

namespace lenticor {

inline constexpr std::int64_t kBusyFileSliceNanoseconds = 10'000'000;
inline constexpr std::int64_t kBusyFileBudgetNanoseconds = 2'000'000'000;

[[nodiscard]] inline bool IsBusyFileError(Win32Error error) {
    return error == kErrorSharingViolation || error == kErrorAccessDenied;
}

// Calls `attempt` (returning its Win32 error) until it answers anything but a
// busy error or two seconds have passed on `clock`; returns the last answer.
template <class Attempt>
[[nodiscard]] Win32Error RetryWhileFileBusy(SteadyClock& clock, Attempt&& attempt) {
    const std::int64_t deadline = clock.NowNanoseconds() + kBusyFileBudgetNanoseconds;
    for (;;) {
        const Win32Error error = attempt();
        const std::int64_t next = clock.NowNanoseconds() + kBusyFileSliceNanoseconds;
        if (!IsBusyFileError(error) || next > deadline)
            return error;
        clock.SleepUntil(next);
    }
}

}  // namespace lenticor
