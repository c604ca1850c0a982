#pragma once
// The simulated machine's steady clock.

#include <cstdint>

#include "platform/steady_clock.h"

namespace lenticor::sim {

struct SimMachine;

// Simulated time: a sleep returns at once, having moved the clock to its
// instant, and monitors finish what they were doing as time passes.
class SimSteadyClock final : public SteadyClock {
  public:
    explicit SimSteadyClock(SimMachine& machine) : machine_(machine) {}
    [[nodiscard]] std::int64_t NowNanoseconds() override;
    void SleepUntil(std::int64_t instant) override;
    void Advance(std::int64_t nanoseconds);

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
