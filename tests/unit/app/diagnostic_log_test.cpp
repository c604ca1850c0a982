#include "app/diagnostic_log.h"

#include "test_platform.h"

#include <gtest/gtest.h>

namespace lenticor {
namespace {

// 2024-03-01 14:03:07 UTC plus 45 ms, in 100 ns ticks.
constexpr std::int64_t kTicks = 1709301787LL * 10'000'000 + 45 * 10'000 + 9'999;

TEST(DiagnosticLog, TimestampHasMillisecondsWithLeadingZeros) {
    const testing::FixedClock clock(kTicks);
    EXPECT_EQ(LogTimestamp(clock, kTicks), "14:03:07.045");
    EXPECT_EQ(LogTimestamp(clock, 0), "00:00:00.000");
}

TEST(DiagnosticLog, EachLevelAndTheHresultSuffixOnlyForNegativeCodes) {
    struct Case {
        void (*write)(DiagnosticLog&);
        const char* line;
    };
    const Case cases[] = {
        {[](DiagnosticLog& log) { log.LogInfo("hello"); }, "[14:03:07.045] [INFO] hello\n"},
        {[](DiagnosticLog& log) { log.LogWarning(""); }, "[14:03:07.045] [WARNING] \n"},
        {[](DiagnosticLog& log) { log.LogError("x", 2); }, "[14:03:07.045] [ERROR] x\n"},
        {[](DiagnosticLog& log) { log.LogError("x", 0); }, "[14:03:07.045] [ERROR] x\n"},
        {[](DiagnosticLog& log) { log.LogError("x", static_cast<std::int32_t>(0x887A0002)); },
         "[14:03:07.045] [ERROR] x (HRESULT: 0x887a0002)\n"},
        {[](DiagnosticLog& log) { log.LogError("x", -1); },
         "[14:03:07.045] [ERROR] x (HRESULT: 0xffffffff)\n"},
        {[](DiagnosticLog& log) { log.LogDisplayInfo("Found 2"); },
         "[14:03:07.045] [INFO] [DISPLAY] Found 2\n"},
        {[](DiagnosticLog& log) { log.LogDisplayError("GetDisplayConfigBufferSizes failed", 87); },
         "[14:03:07.045] [ERROR] [DISPLAY] GetDisplayConfigBufferSizes failed\n"},
        {[](DiagnosticLog& log) {
             log.LogDisplayError("CreateDXGIFactory1 failed",
                                 static_cast<std::int32_t>(0x80004005));
         },
         "[14:03:07.045] [ERROR] [DISPLAY] CreateDXGIFactory1 failed (HRESULT: 0x80004005)\n"},
    };
    for (const auto& c : cases) {
        testing::CapturingConsole console;
        const testing::FixedClock clock(kTicks);
        DiagnosticLog log(console.Err(), clock);
        c.write(log);
        EXPECT_EQ(console.err.str(), c.line);
    }
}

}  // namespace
}  // namespace lenticor
