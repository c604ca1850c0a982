#include "app/diagnostic_log.h"

#include "test_platform.h"

#include <gtest/gtest.h>

namespace lenticor {
namespace {

// 14:03:07 UTC, 45 ms and 9999 ticks that the timestamp truncates.
constexpr std::int64_t kTicks = 1709301787LL * 10'000'000 + 45 * 10'000 + 9'999;

TEST(DiagnosticLog, EachLevelAndTheHresultSuffixOnlyForNegativeCodes) {
    testing::CapturingConsole console;
    const testing::FixedClock clock(kTicks);
    DiagnosticLog log(console.Err(), clock);
    log.LogInfo("hello");
    log.LogWarning("");
    log.LogError("x", 2);
    log.LogError("x", -1);
    log.LogDisplayInfo("Found 2");
    log.LogDisplayError("Sizes failed", 87);
    log.LogDisplayError("Factory failed", static_cast<std::int32_t>(0x80004005));
    EXPECT_EQ(console.err.str(),
              "[14:03:07.045] [INFO] hello\n"
              "[14:03:07.045] [WARNING] \n"
              "[14:03:07.045] [ERROR] x\n"
              "[14:03:07.045] [ERROR] x (HRESULT: 0xffffffff)\n"
              "[14:03:07.045] [INFO] [DISPLAY] Found 2\n"
              "[14:03:07.045] [ERROR] [DISPLAY] Sizes failed\n"
              "[14:03:07.045] [ERROR] [DISPLAY] Factory failed (HRESULT: 0x80004005)\n");
}

}  // namespace
}  // namespace lenticor
