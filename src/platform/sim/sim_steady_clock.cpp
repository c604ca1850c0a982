#include "platform/sim/sim_steady_clock.h"

#include "platform/sim/sim_machine.h"

#include <chrono>
#include <thread>

namespace lenticor::sim {

std::int64_t SimSteadyClock::NowNanoseconds() {
    return machine_.ddc.now;
}

void SimSteadyClock::SleepUntil(std::int64_t instant) {
    auto& bus = machine_.ddc;
    if (instant <= bus.now) {
        return;
    }
    // Against the real clock's instant, not a duration, so the time the
    // process itself spends does not add up over a run.
    if (bus.realTime) {
        std::this_thread::sleep_until(bus.realStart +
                                      std::chrono::nanoseconds(instant - SimDdcBus::kRunStart));
    }
    bus.now = instant;
    SettleSimDdc(machine_);
}

void SimSteadyClock::Advance(std::int64_t nanoseconds) {
    SleepUntil(machine_.ddc.now + nanoseconds);
}

}  // namespace lenticor::sim
