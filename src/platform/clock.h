#pragma once
// Port: the system clock (GetSystemTimePreciseAsFileTime-style ticks) and the
// local-time conversion used by the diagnostic timestamps.

#include <cstdint>
#include <ctime>

namespace lenticor {

class Clock {
  public:
    virtual ~Clock() = default;
    // 100-nanosecond ticks since 1970-01-01 00:00:00 UTC.
    [[nodiscard]] virtual std::int64_t NowTicks() const = 0;
    // Broken-down local time of `secondsSince1970`.
    [[nodiscard]] virtual std::tm ToLocalTime(std::int64_t secondsSince1970) const = 0;
};

// The machine's own clock and time zone; portable (std::chrono and the C
// library's localtime_r / localtime_s), used by both the Windows build and
// lenticor-sim.
class SystemClock final : public Clock {
  public:
    [[nodiscard]] std::int64_t NowTicks() const override;
    [[nodiscard]] std::tm ToLocalTime(std::int64_t secondsSince1970) const override;
};

}  // namespace lenticor
