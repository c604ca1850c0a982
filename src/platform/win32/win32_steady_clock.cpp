#include "unique_handle.h"
#include "win32_ports.h"

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

// The steady clock of lenticor.exe: QueryPerformanceCounter, and waits that
// never end before their instant. Sleep and std::this_thread::sleep_until
// round to the system timer (15.6 ms unless some process asked for less) and
// may wake a little early, so a "10 ms" slice of a cancel-aware wait took a
// whole tick and a wait could end short of its deadline.
class Win32SteadyClock final : public SteadyClock {
  public:
    [[nodiscard]] std::int64_t NowNanoseconds() override {
        static const std::int64_t frequency = CounterFrequency();
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        // Whole seconds and the rest apart, so the product cannot overflow.
        const std::int64_t seconds = counter.QuadPart / frequency;
        const std::int64_t rest = counter.QuadPart % frequency;
        return seconds * kNanosecondsPerSecond + rest * kNanosecondsPerSecond / frequency;
    }

    // Waits on a high-resolution waitable timer where Windows has one, else
    // with Sleep, until NowNanoseconds() has reached `instant`.
    void SleepUntil(std::int64_t instant) override {
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

  private:
    UniqueKernelHandle timer_;
    bool timerTried_ = false;
};

}  // namespace

std::unique_ptr<SteadyClock> MakeWin32SteadyClock() {
    return std::make_unique<Win32SteadyClock>();
}

}  // namespace lenticor::win32
