#include "platform/sim/sim_steady_clock.h"

#include "platform/sim/sim_machine.h"

namespace lenticor::sim {

std::int64_t SimSteadyClock::NowNanoseconds() {
    return machine_.ddc.now;
}

void SimSteadyClock::SleepUntil(std::int64_t instant) {
    if (instant > machine_.ddc.now) {
        machine_.ddc.now = instant;
        SettleSimDdc(machine_);
    }
}

void SimSteadyClock::Advance(std::int64_t nanoseconds) {
    SleepUntil(machine_.ddc.now + nanoseconds);
}

}  // namespace lenticor::sim
