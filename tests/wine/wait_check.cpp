// Test helper: times 10 ms waits of lenticor.exe's steady clock (with "std":
// of std::this_thread::sleep_until) and prints how many ended before their
// instant and how long they lasted.

#include "win32_steady_clock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <thread>

int wmain(int argc, wchar_t** argv) {
    using std::chrono::steady_clock;
    const bool useStd = argc > 1 && std::wcscmp(argv[1], L"std") == 0;
    lenticor::win32::Win32SteadyClock clock;
    const auto now = [&]() -> std::int64_t {
        return useStd ? steady_clock::now().time_since_epoch().count() : clock.NowNanoseconds();
    };
    constexpr int kWaits = 40;
    constexpr std::int64_t kSlice = 10'000'000;
    int early = 0;
    std::int64_t total = 0;
    std::int64_t longest = 0;
    for (int i = 0; i < kWaits; ++i) {
        const std::int64_t start = now();
        if (useStd) {
            std::this_thread::sleep_until(
                steady_clock::time_point(steady_clock::duration(start + kSlice)));
        } else {
            clock.SleepUntil(start + kSlice);
        }
        const std::int64_t took = now() - start;
        early += took < kSlice ? 1 : 0;
        total += took;
        longest = std::max(longest, took);
    }
    std::printf("waits=%d early=%d mean_us=%lld max_us=%lld\n", kWaits, early,
                static_cast<long long>(total / kWaits / 1000),
                static_cast<long long>(longest / 1000));
    return 0;
}
