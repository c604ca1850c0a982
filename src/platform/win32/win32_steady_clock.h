#pragma once
// The steady clock of lenticor.exe: QueryPerformanceCounter, and waits that
// never end before their instant. Sleep and std::this_thread::sleep_until
// round to the system timer (15.6 ms unless some process asked for less) and
// may wake a little early, so a "10 ms" slice of a cancel-aware wait took a
// whole tick and a wait could end short of its deadline.

#include "platform/steady_clock.h"
#include "unique_handle.h"

namespace lenticor::win32 {

class Win32SteadyClock final : public SteadyClock {
  public:
    [[nodiscard]] std::int64_t NowNanoseconds() override;
    // Waits on a high-resolution waitable timer where Windows has one, else
    // with Sleep, until NowNanoseconds() has reached `instant`.
    void SleepUntil(std::int64_t instant) override;

  private:
    UniqueKernelHandle timer_;
    bool timerTried_ = false;
};

}  // namespace lenticor::win32
