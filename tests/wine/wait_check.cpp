// Test helper: times 40 waits of 10 ms on lenticor.exe's steady clock and
// prints how many ended before their instant and how long they lasted.

#include "win32_ports.h"

#include <algorithm>
#include <cstdio>

int wmain() {
    const auto owner = lenticor::win32::MakeWin32SteadyClock();
    auto& clock = *owner;
    constexpr std::int64_t kWaits = 40, kSlice = 10'000'000;
    std::int64_t early = 0, total = 0, longest = 0;
    for (int i = 0; i < kWaits; ++i) {
        const std::int64_t start = clock.NowNanoseconds();
        clock.SleepUntil(start + kSlice);
        const std::int64_t took = clock.NowNanoseconds() - start;
        early += took < kSlice ? 1 : 0;
        total += took;
        longest = std::max(longest, took);
    }
    std::printf("waits=%lld early=%lld mean_us=%lld max_us=%lld\n", static_cast<long long>(kWaits),
                static_cast<long long>(early), static_cast<long long>(total / kWaits / 1000),
                static_cast<long long>(longest / 1000));
    return 0;
}
