// The brightness command line, the engine on a scripted monitor and the
// result line's nulls.

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "ddc/brightness_engine.h"
#include "ddc/brightness_request.h"

namespace nimbo::test {
namespace {

using A = DisplayBrightnessAction;
using Reading = std::optional<std::pair<std::uint32_t, std::uint32_t>>;  // current, maximum
const std::wstring kLevel = L"--level", kId = L"--display-id", kDev = L"MONITOR\\KZV1A07\\x";
const std::wstring kHint = L"--nimbo-brightness-capability-v1";
const std::wstring kRange = L"--nimbo-brightness-range-v1", kAck = L"--nimbo-brightness-ack-only";
const std::string kT = "b1:aa", kU = "b1:bb";  // one monitor instance, and it after a replug

TEST(ParseDisplayBrightnessRequest, AcceptsAndRejectsPerRule) {
    const std::wstring t2048(2048, L'a');
    struct Case {
        const char* situation;
        std::vector<std::wstring> args;
        const char* message = "";
        DisplayBrightnessRequest request = {};
    };
    // clang-format off
    const Case cases[] = {
        {.situation = "nothing", .args = {}, .message = "missing status|set"},
        {.situation = "unknown action", .args = {L"dim"}, .message = "action must be status or set"},
        {.situation = "SET with a zero-padded level", .args = {L"SET", kLevel, L"007"}, .request = {.action = A::Set, .level = 7}},
        {.situation = "four digits", .args = {L"set", kLevel, L"0100"}, .message = "--level requires an integer from 0 to 100"},
        {.situation = "above 100", .args = {L"set", kLevel, L"101"}, .message = "--level requires an integer from 0 to 100"},
        {.situation = "a level without value", .args = {L"set", kLevel}, .message = "--level requires an integer from 0 to 100"},
        {.situation = "level twice", .args = {L"set", kLevel, L"1", kLevel, L"1"}, .message = "--level was specified twice"},
        {.situation = "empty id", .args = {L"status", kId, L""}, .message = "--display-id requires a Windows monitor device ID"},
        {.situation = "id twice", .args = {L"status", kId, kDev, kId, kDev}, .message = "--display-id was specified twice"},
        {.situation = "a hint of 2048 bytes and range 00001", .args = {L"set", kHint, t2048, kRange, L"00001", kId, kDev, kLevel, L"100"},
         .request = {.action = A::Set, .level = 100, .displayId = kDev, .capabilityHint = std::string(2048, 'a'), .rangeMaximum = 1}},
        {.situation = "2048 characters but 2049 bytes", .args = {L"set", kHint, t2048.substr(1) + L"\u00e9"}, .message = "capability hint requires one bounded version-1 token"},
        {.situation = "a hint with a line feed", .args = {L"set", kHint, L"b1\n"}, .message = "capability hint requires one bounded version-1 token"},
        {.situation = "hint twice", .args = {L"set", kHint, L"b1", kHint, L"b1"}, .message = "capability hint requires one bounded version-1 token"},
        {.situation = "range 65535", .args = {L"set", kRange, L"65535", kHint, L"b1", kId, kDev, kLevel, L"0"}, .request = {.action = A::Set, .level = 0, .displayId = kDev, .capabilityHint = "b1", .rangeMaximum = 65535}},
        {.situation = "range 65536", .args = {L"set", kRange, L"65536"}, .message = "capability range requires one raw maximum from 1 to 65535"},
        {.situation = "range 0", .args = {L"set", kRange, L"0"}, .message = "capability range requires one raw maximum from 1 to 65535"},
        {.situation = "range of six digits", .args = {L"set", kRange, L"000001"}, .message = "capability range requires one raw maximum from 1 to 65535"},
        {.situation = "ack-only twice", .args = {L"set", kAck, kAck}, .message = "--nimbo-brightness-ack-only was specified twice"},
        {.situation = "option names keep their case", .args = {L"set", L"--Level", L"5"}, .message = "expected --level <0-100> and/or --display-id <Windows monitor device ID>"},
        {.situation = "set without level, before the hint's id", .args = {L"set", kHint, L"b1"}, .message = "set requires --level <0-100>"},
        {.situation = "status with level, before ack-only", .args = {L"status", kLevel, L"5", kAck}, .message = "--level is not valid with status"},
        {.situation = "hint without id, before range", .args = {L"set", kLevel, L"5", kHint, L"b1", kRange, L"9"}, .message = "capability hint requires an explicit --display-id"},
        {.situation = "range without hint", .args = {L"set", kLevel, L"5", kRange, L"9"}, .message = "capability range requires the matching version-1 capability hint"},
        {.situation = "status with ack-only", .args = {L"status", kAck}, .message = "capability range and --nimbo-brightness-ack-only are not valid with status"},
        {.situation = "status with range", .args = {L"status", kId, kDev, kHint, L"b1", kRange, L"9"}, .message = "capability range and --nimbo-brightness-ack-only are not valid with status"},
        {.situation = "status with a hint", .args = {L"status", kHint, L"b1", kId, kDev}, .request = {.displayId = kDev, .capabilityHint = "b1"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        DisplayBrightnessRequest request{.action = A::Set, .level = 3, .ackOnly = true};
        std::string message = "old";
        EXPECT_EQ(ParseDisplayBrightnessRequest(c.args, request, message), !*c.message);
        EXPECT_EQ(message, c.message);
        if (!*c.message) {
            const auto fields = [](const DisplayBrightnessRequest& r) {
                return std::tie(r.action, r.level, r.displayId, r.capabilityHint, r.rangeMaximum,
                                r.ackOnly);
            };
            EXPECT_EQ(fields(request), fields(c.request));
        }
    }
}

// One monitor answering from a script; `trace` records what reached the bus.
struct Monitor {
    int currentFailsAt = 0;  // the nth isCurrent (from 1) answers false
    std::vector<std::optional<std::string>> tokens = {kT};  // per buildToken, the last repeats
    bool acquirable = true, writable = true;
    std::vector<Reading> reads = {{{50, 100}}};  // per read, the last repeats
    int currents = 0, builds = 0, readsDone = 0;
    std::string trace{};

    bool Log(const std::string& call, bool answer) {
        trace += call;
        return answer;
    }
    DisplayBrightnessIo Io() {
        const auto nth = [](const auto& list, int& n) {
            return list[std::min(static_cast<std::size_t>(n++), list.size() - 1)];
        };
        // clang-format off
        return {.isCurrent = [this] { return ++currents != currentFailsAt; },
                .buildToken = [this, nth] { return nth(tokens, builds); },
                .acquire = [this] { return Log("acquire", acquirable); },
                .read = [this, nth](std::uint32_t& current, std::uint32_t& maximum) {
                    const Reading r = nth(reads, readsDone);
                    std::tie(current, maximum) = r.value_or(std::pair{7u, 7u});
                    return Log(" read", r.has_value()); },
                .write = [this](std::uint32_t raw) { return Log(" write:" + std::to_string(raw), writable); },
                .settle = [this] { trace += " settle"; }};
        // clang-format on
    }
};

TEST(RunBrightnessEngine, ReadsOnlyWhatTheTokenCannotVouchFor) {
    const DisplayBrightnessRequest status{}, set40{.action = A::Set, .level = 40};
    const DisplayBrightnessRequest hinted{
        .action = A::Set, .level = 40, .capabilityHint = kT, .rangeMaximum = 100};
    const std::string wrote = "acquire read write:40 settle read";
    struct Case {
        const char* situation;
        DisplayBrightnessRequest request;
        Monitor monitor = {};
        std::string trace;
        const char* json;
    };
    // clang-format off
    const Case cases[] = {
        {.situation = "status issues a token", .request = status, .trace = "acquire read", .json = R"({"brightness":50,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"success":true,"supported":true})"},
        {.situation = "status ignores a hint", .request = {.capabilityHint = kT}, .trace = "acquire read", .json = R"({"brightness":50,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"success":true,"supported":true})"},
        {.situation = "hint and range: no read before the write", .request = hinted, .monitor = {.reads = {{{40, 100}}}}, .trace = "acquire write:40 settle read", .json = R"({"brightness":40,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "ack-only: no read at all", .request = {.action = A::Set, .level = 40, .capabilityHint = kT, .rangeMaximum = 100, .ackOnly = true}, .trace = "acquire write:40", .json = R"({"brightness":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "a hint from before a replug", .request = hinted, .monitor = {.tokens = {kU}, .reads = {{{40, 100}}}}, .trace = wrote, .json = R"({"brightness":40,"capabilityCache":{"token":"b1:bb","version":1},"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "no range with the hint", .request = {.action = A::Set, .level = 40, .capabilityHint = kT}, .monitor = {.reads = {{{40, 100}}}}, .trace = wrote, .json = R"({"brightness":40,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "the token vanishes after a hinted range", .request = hinted, .monitor = {.tokens = {kT, kT, kT, std::nullopt}, .reads = {{{40, 100}}}}, .trace = wrote, .json = R"({"brightness":40,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "no token at the start", .request = hinted, .monitor = {.tokens = {std::nullopt, kT}, .reads = {{{40, 100}}}}, .trace = wrote, .json = R"({"brightness":40,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "a token missing during validation", .request = hinted, .monitor = {.tokens = {kT, kT, std::nullopt, kT}, .reads = {{{40, 100}}}}, .trace = "acquire write:40 settle read", .json = R"({"brightness":40,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "a token of another command", .request = status, .monitor = {.tokens = {"p1:aa"}}, .trace = "acquire read", .json = R"({"brightness":50,"capabilityCache":null,"displayId":"","maximum":100,"success":true,"supported":true})"},
        {.situation = "a replug during acquisition", .request = status, .monitor = {.tokens = {kT, kU}}, .trace = "acquire", .json = R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during acquisition","maximum":null,"success":false,"supported":false})"},
        {.situation = "gone before anything", .request = status, .monitor = {.currentFailsAt = 1}, .trace = "", .json = R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"resolved monitor is no longer active","maximum":null,"success":false,"supported":false})"},
        {.situation = "not acquired", .request = status, .monitor = {.acquirable = false}, .trace = "acquire", .json = R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"could not acquire exactly one physical monitor","maximum":null,"success":false,"supported":false})"},
        {.situation = "gone after validation", .request = status, .monitor = {.currentFailsAt = 3}, .trace = "acquire", .json = R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during validation","maximum":null,"success":false,"supported":false})"},
        {.situation = "gone after the read", .request = status, .monitor = {.currentFailsAt = 4}, .trace = "acquire read", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during brightness read","maximum":100,"success":false,"supported":true})"},
        {.situation = "gone after the fallback read", .request = hinted, .monitor = {.currentFailsAt = 5, .tokens = {kT, kT, kT, std::nullopt}}, .trace = "acquire read", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during brightness read","maximum":100,"requestedLevel":40,"success":false,"supported":true})"},
        {.situation = "gone after the write", .request = set40, .monitor = {.currentFailsAt = 5}, .trace = "acquire read write:40 settle read", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "read fails", .request = status, .monitor = {.reads = {std::nullopt}}, .trace = "acquire read", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"could not read VCP 10 brightness","maximum":null,"success":false,"supported":false})"},
        {.situation = "maximum 0", .request = status, .monitor = {.reads = {{{0, 0}}}}, .trace = "acquire read", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"monitor reported a zero brightness range","maximum":null,"success":false,"supported":false})"},
        {.situation = "current above maximum", .request = status, .monitor = {.reads = {{{120, 100}}}}, .trace = "acquire read", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"monitor reported a brightness outside its own range","maximum":100,"success":false,"supported":true})"},
        {.situation = "write fails", .request = set40, .monitor = {.writable = false}, .trace = "acquire read write:40", .json = R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_WRITE_FAILED","errorMessage":"SetVCPFeature failed","maximum":100,"requestedLevel":40,"success":false,"supported":true})"},
        {.situation = "read-back fails", .request = set40, .monitor = {.reads = {{{9, 100}}, std::nullopt}}, .trace = wrote, .json = R"({"brightness":null,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "read-back above a new maximum", .request = set40, .monitor = {.reads = {{{9, 100}}, {{60, 50}}}}, .trace = wrote, .json = R"({"brightness":null,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":50,"requestedLevel":40,"success":true,"supported":true})"},
        {.situation = "half a percent rounds up", .request = status, .monitor = {.reads = {{{1, 200}}}}, .trace = "acquire read", .json = R"({"brightness":1,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":200,"success":true,"supported":true})"},
        {.situation = "ack-only without a range: level 100 of 255", .request = {.action = A::Set, .level = 100, .ackOnly = true}, .monitor = {.reads = {{{9, 255}}}}, .trace = "acquire read write:255", .json = R"({"brightness":null,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":255,"requestedLevel":100,"success":true,"supported":true})"},
        {.situation = "level 50 of 255", .request = {.action = A::Set, .level = 50}, .monitor = {.reads = {{{0, 255}}, {{128, 255}}}}, .trace = "acquire read write:128 settle read", .json = R"({"brightness":50,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":255,"requestedLevel":50,"success":true,"supported":true})"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        Monitor monitor = c.monitor;
        EXPECT_EQ(BrightnessResultToJson(RunBrightnessEngine(c.request, monitor.Io())).dump(),
                  c.json);
        EXPECT_EQ(monitor.trace, c.trace);
    }
}

TEST(BrightnessConversions, RoundToTheNearestStepAndHitBothEndsExactly) {
    struct Case {
        std::int32_t level;
        std::uint32_t maximum, raw;  // raw: what a set writes
        std::int32_t readBack;       // what a status then reports
    };
    const Case cases[] = {
        {50, 100, 50, 50},      {50, 255, 128, 50},       {33, 3, 1, 33},         {67, 3, 2, 67},
        {0, 255, 0, 0},         {100, 255, 255, 100},     {100, 7, 7, 100},       {1, 7, 0, 0},
        {99, 65535, 64880, 99}, {100, 65535, 65535, 100}, {50, 65535, 32768, 50}, {-5, 10, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BrightnessRaw(c.level, c.maximum), c.raw) << c.level << " of " << c.maximum;
        EXPECT_EQ(BrightnessPercent(c.raw, c.maximum), c.readBack) << c.raw << " of " << c.maximum;
    }
}

TEST(PrintBrightnessResult, WritesNullsForWhatIsUnknown) {
    std::ostringstream out;
    PrintBrightnessResult(out, {.maximum = 0,
                                .requestedLevel = 0,
                                .reportCapabilityCache = true,
                                .nativeError = 31,
                                .errorCode = "X",
                                .errorMessage = "\xff"});
    EXPECT_EQ(out.str(),
              "[VXNimboBrightness]{\"brightness\":null,\"capabilityCache\":null,\"displayId\":\"\","
              "\"errorCode\":\"X\",\"errorMessage\":\"\xef\xbf\xbd\",\"maximum\":null,"
              "\"nativeError\":31,\"requestedLevel\":0,\"success\":false,\"supported\":false}\n");
}

}  // namespace
}  // namespace nimbo::test
