#include "win32_steady_clock.h"

namespace lenticor::win32 {
namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803 and later; older
// systems refuse the flag). MinGW's headers do not define it yet. See
// https://learn.microsoft.com/windows/win32/api/synchapi/nf-synchapi-createwaitabletimerexw
constexpr DWORD kHighResolutionTimer = 0x00000002;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

std::int64_t CounterFrequency() {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);  // cannot fail since Windows XP
    return frequency.QuadPart;
}

}  // namespace

std::int64_t Win32SteadyClock::NowNanoseconds() {
    static const std::int64_t frequency = CounterFrequency();
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    // Whole seconds and the rest apart, so the product cannot overflow.
    const std::int64_t seconds = counter.QuadPart / frequency;
    const std::int64_t rest = counter.QuadPart % frequency;
    return seconds * kNanosecondsPerSecond + rest * kNanosecondsPerSecond / frequency;
}

void Win32SteadyClock::SleepUntil(std::int64_t instant) {
    if (!timerTried_) {
        timerTried_ = true;
        timer_.reset(::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer,
                                              SYNCHRONIZE | TIMER_MODIFY_STATE));
    }
    // A timer may fire a fraction of a tick early against the performance
    // counter: wait again for the rest until the counter has passed `instant`.
    for (std::int64_t now = NowNanoseconds(); now < instant; now = NowNanoseconds()) {
        const std::int64_t remaining = instant - now;
        if (timer_) {
            LARGE_INTEGER due{};
            due.QuadPart = -((remaining + 99) / 100);  // relative, in 100 ns units
            if (::SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) &&
                ::WaitForSingleObject(timer_.get(), INFINITE) == WAIT_OBJECT_0) {
                continue;
            }
            timer_.reset();  // a timer that does not work falls back to Sleep
        }
        ::Sleep(static_cast<DWORD>((remaining + 999'999) / 1'000'000));
    }
}

}  // namespace lenticor::win32
