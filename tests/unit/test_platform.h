#pragma once
// In-memory console and a settable clock for unit tests of code that writes
// result lines or diagnostics.

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/sim/posix_host.h"
#include "platform/sim/sim_ports.h"

#include <sstream>

namespace lenticor::testing {

class CapturingConsole final : public Console {
  public:
    std::ostream& Out() override { return out; }
    std::ostream& Err() override { return err; }

    std::ostringstream out;
    std::ostringstream err;
};

// Local time is UTC, so expectations do not depend on the machine's zone.
class FixedClock final : public Clock {
  public:
    explicit FixedClock(std::int64_t initialTicks = 0) : ticks(initialTicks) {}
    std::int64_t NowTicks() const override { return ticks; }
    std::tm ToLocalTime(std::int64_t seconds) const override {
        const auto time = static_cast<std::time_t>(seconds);
        std::tm utc{};
        gmtime_r(&time, &utc);
        return utc;
    }

    std::int64_t ticks;
};

// The ports of a machine without adapters or registry, for tests that need a
// Platform but never reach Windows.
class EmptyMachine {
  public:
    Platform MakePlatform(Console& console, const Clock& clock) {
        return ports_.MakePlatform(console, clock, host_.Ports());
    }

  private:
    sim::SimMachine machine_;
    sim::SimPorts ports_{machine_};
    sim::PosixHost host_;
};

}  // namespace lenticor::testing
