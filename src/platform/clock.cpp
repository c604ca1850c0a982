#include "platform/clock.h"
#include "platform/steady_clock.h"

#include <chrono>
#include <thread>

namespace lenticor {

std::int64_t SystemClock::NowTicks() const {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

std::tm SystemClock::ToLocalTime(std::int64_t secondsSince1970) const {
    const auto seconds = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}

std::int64_t SystemSteadyClock::NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SystemSteadyClock::SleepUntil(std::int64_t instant) {
    // sleep_until of a steady clock is a single relative sleep, which some C
    // libraries end early; only the clock itself says when the instant came.
    const std::chrono::steady_clock::time_point until{std::chrono::nanoseconds(instant)};
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_until(until);
    }
}

}  // namespace lenticor
