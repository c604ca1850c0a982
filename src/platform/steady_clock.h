#pragma once
// Port: a monotonic clock and sleeping until an instant of it, for the waits
// of the DDC/CI commands. The simulated machine's clock is virtual: a sleep
// advances it at once, and so does every DDC/CI transaction.

#include <cstdint>

namespace lenticor {

class SteadyClock {
  public:
    virtual ~SteadyClock() = default;
    // Nanoseconds since an arbitrary fixed start.
    [[nodiscard]] virtual std::int64_t NowNanoseconds() = 0;
    // Returns once NowNanoseconds() has reached `instant` (at once when it has).
    virtual void SleepUntil(std::int64_t instant) = 0;
};

// std::chrono::steady_clock and std::this_thread::sleep_until, repeated until
// the clock has reached the instant. lenticor.exe has its own
// (win32/win32_steady_clock.h).
class SystemSteadyClock final : public SteadyClock {
  public:
    [[nodiscard]] std::int64_t NowNanoseconds() override;
    void SleepUntil(std::int64_t instant) override;
};

}  // namespace lenticor
