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
    // What the case shows, the words, the message (empty: parsed) and the request.
    // clang-format off
    const std::tuple<const char*, std::vector<std::wstring>, const char*, DisplayBrightnessRequest> cases[] = {
        {"nothing", {}, "missing status|set", {}},
        {"unknown action", {L"dim"}, "action must be status or set", {}},
        {"SET with a zero-padded level", {L"SET", kLevel, L"007"}, "", {.action = A::Set, .level = 7}},
        {"four digits", {L"set", kLevel, L"0100"}, "--level requires an integer from 0 to 100", {}},
        {"above 100", {L"set", kLevel, L"101"}, "--level requires an integer from 0 to 100", {}},
        {"a level without value", {L"set", kLevel}, "--level requires an integer from 0 to 100", {}},
        {"level twice", {L"set", kLevel, L"1", kLevel, L"1"}, "--level was specified twice", {}},
        {"empty id", {L"status", kId, L""}, "--display-id requires a Windows monitor device ID", {}},
        {"id twice", {L"status", kId, kDev, kId, kDev}, "--display-id was specified twice", {}},
        {"a hint of 2048 bytes and range 00001", {L"set", kHint, t2048, kRange, L"00001", kId, kDev, kLevel, L"100"}, "",
         {.action = A::Set, .level = 100, .displayId = kDev, .capabilityHint = std::string(2048, 'a'), .rangeMaximum = 1}},
        {"2048 characters but 2049 bytes", {L"set", kHint, t2048.substr(1) + L"\u00e9"}, "capability hint requires one bounded version-1 token", {}},
        {"a hint with a line feed", {L"set", kHint, L"b1\n"}, "capability hint requires one bounded version-1 token", {}},
        {"hint twice", {L"set", kHint, L"b1", kHint, L"b1"}, "capability hint requires one bounded version-1 token", {}},
        {"range 65535", {L"set", kRange, L"65535", kHint, L"b1", kId, kDev, kLevel, L"0"}, "", {.action = A::Set, .level = 0, .displayId = kDev, .capabilityHint = "b1", .rangeMaximum = 65535}},
        {"range 65536", {L"set", kRange, L"65536"}, "capability range requires one raw maximum from 1 to 65535", {}},
        {"range 0", {L"set", kRange, L"0"}, "capability range requires one raw maximum from 1 to 65535", {}},
        {"range of six digits", {L"set", kRange, L"000001"}, "capability range requires one raw maximum from 1 to 65535", {}},
        {"ack-only twice", {L"set", kAck, kAck}, "--nimbo-brightness-ack-only was specified twice", {}},
        {"option names keep their case", {L"set", L"--Level", L"5"}, "expected --level <0-100> and/or --display-id <Windows monitor device ID>", {}},
        {"set without level, before the hint's id", {L"set", kHint, L"b1"}, "set requires --level <0-100>", {}},
        {"status with level, before ack-only", {L"status", kLevel, L"5", kAck}, "--level is not valid with status", {}},
        {"hint without id, before range", {L"set", kLevel, L"5", kHint, L"b1", kRange, L"9"}, "capability hint requires an explicit --display-id", {}},
        {"range without hint", {L"set", kLevel, L"5", kRange, L"9"}, "capability range requires the matching version-1 capability hint", {}},
        {"status with ack-only", {L"status", kAck}, "capability range and --nimbo-brightness-ack-only are not valid with status", {}},
        {"status with range", {L"status", kId, kDev, kHint, L"b1", kRange, L"9"}, "capability range and --nimbo-brightness-ack-only are not valid with status", {}},
        {"status with a hint", {L"status", kHint, L"b1", kId, kDev}, "", {.displayId = kDev, .capabilityHint = "b1"}},
    };
    // clang-format on
    for (const auto& [situation, args, expectedMessage, expected] : cases) {
        SCOPED_TRACE(situation);
        DisplayBrightnessRequest request{.action = A::Set, .level = 3, .ackOnly = true};
        std::string message = "old";
        EXPECT_EQ(ParseDisplayBrightnessRequest(args, request, message), !*expectedMessage);
        EXPECT_EQ(message, expectedMessage);
        if (!*expectedMessage) {
            // clang-format off
            const auto fields = [](const DisplayBrightnessRequest& r) { return std::tie(r.action, r.level, r.displayId, r.capabilityHint, r.rangeMaximum, r.ackOnly); };
            // clang-format on
            EXPECT_EQ(fields(request), fields(expected));
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

    bool Log(const std::string& call, bool answer) { return trace += call, answer; }
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
    // What the case shows, the request, the monitor, what reached the bus, the line.
    // clang-format off
    const std::tuple<const char*, DisplayBrightnessRequest, Monitor, std::string, const char*> cases[] = {
        {"status issues a token", status, {}, "acquire read", R"({"brightness":50,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"success":true,"supported":true})"},
        {"status ignores a hint", {.capabilityHint = kT}, {}, "acquire read", R"({"brightness":50,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"success":true,"supported":true})"},
        {"hint and range: no read before the write", hinted, Monitor{.reads = {{{40, 100}}}}, "acquire write:40 settle read", R"({"brightness":40,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"ack-only: no read at all", {.action = A::Set, .level = 40, .capabilityHint = kT, .rangeMaximum = 100, .ackOnly = true}, {}, "acquire write:40", R"({"brightness":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"a hint from before a replug", hinted, Monitor{.tokens = {kU}, .reads = {{{40, 100}}}}, wrote, R"({"brightness":40,"capabilityCache":{"token":"b1:bb","version":1},"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"no range with the hint", {.action = A::Set, .level = 40, .capabilityHint = kT}, Monitor{.reads = {{{40, 100}}}}, wrote, R"({"brightness":40,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"the token vanishes after a hinted range", hinted, Monitor{.tokens = {kT, kT, kT, std::nullopt}, .reads = {{{40, 100}}}}, wrote, R"({"brightness":40,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"no token at the start", hinted, Monitor{.tokens = {std::nullopt, kT}, .reads = {{{40, 100}}}}, wrote, R"({"brightness":40,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"a token missing during validation", hinted, Monitor{.tokens = {kT, kT, std::nullopt, kT}, .reads = {{{40, 100}}}}, "acquire write:40 settle read", R"({"brightness":40,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"a token of another command", status, Monitor{.tokens = {"p1:aa"}}, "acquire read", R"({"brightness":50,"capabilityCache":null,"displayId":"","maximum":100,"success":true,"supported":true})"},
        {"a replug during acquisition", status, Monitor{.tokens = {kT, kU}}, "acquire", R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during acquisition","maximum":null,"success":false,"supported":false})"},
        {"gone before anything", status, Monitor{.currentFailsAt = 1}, "", R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"resolved monitor is no longer active","maximum":null,"success":false,"supported":false})"},
        {"not acquired", status, Monitor{.acquirable = false}, "acquire", R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"could not acquire exactly one physical monitor","maximum":null,"success":false,"supported":false})"},
        {"gone after validation", status, Monitor{.currentFailsAt = 3}, "acquire", R"({"brightness":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during validation","maximum":null,"success":false,"supported":false})"},
        {"gone after the read", status, Monitor{.currentFailsAt = 4}, "acquire read", R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during brightness read","maximum":100,"success":false,"supported":true})"},
        {"gone after the fallback read", hinted, Monitor{.currentFailsAt = 5, .tokens = {kT, kT, kT, std::nullopt}}, "acquire read", R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_UNAVAILABLE","errorMessage":"monitor connection changed during brightness read","maximum":100,"requestedLevel":40,"success":false,"supported":true})"},
        {"gone after the write", set40, Monitor{.currentFailsAt = 5}, "acquire read write:40 settle read", R"({"brightness":null,"capabilityCache":null,"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"read fails", status, Monitor{.reads = {std::nullopt}}, "acquire read", R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"could not read VCP 10 brightness","maximum":null,"success":false,"supported":false})"},
        {"maximum 0", status, Monitor{.reads = {{{0, 0}}}}, "acquire read", R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"monitor reported a zero brightness range","maximum":null,"success":false,"supported":false})"},
        {"current above maximum", status, Monitor{.reads = {{{120, 100}}}}, "acquire read", R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"monitor reported a brightness outside its own range","maximum":100,"success":false,"supported":true})"},
        {"write fails", set40, Monitor{.writable = false}, "acquire read write:40", R"({"brightness":null,"capabilityCache":null,"displayId":"","errorCode":"DDC_WRITE_FAILED","errorMessage":"SetVCPFeature failed","maximum":100,"requestedLevel":40,"success":false,"supported":true})"},
        {"read-back fails", set40, Monitor{.reads = {{{9, 100}}, std::nullopt}}, wrote, R"({"brightness":null,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"requestedLevel":40,"success":true,"supported":true})"},
        {"read-back above a new maximum", set40, Monitor{.reads = {{{9, 100}}, {{60, 50}}}}, wrote, R"({"brightness":null,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":50,"requestedLevel":40,"success":true,"supported":true})"},
        {"status at full brightness", status, Monitor{.reads = {{{100, 100}}}}, "acquire read", R"({"brightness":100,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":100,"success":true,"supported":true})"},
        {"half a percent rounds up", status, Monitor{.reads = {{{1, 200}}}}, "acquire read", R"({"brightness":1,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":200,"success":true,"supported":true})"},
        {"ack-only without a range: level 100 of 255", {.action = A::Set, .level = 100, .ackOnly = true}, Monitor{.reads = {{{9, 255}}}}, "acquire read write:255", R"({"brightness":null,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":255,"requestedLevel":100,"success":true,"supported":true})"},
        {"level 50 of 255", {.action = A::Set, .level = 50}, Monitor{.reads = {{{0, 255}}, {{128, 255}}}}, "acquire read write:128 settle read", R"({"brightness":50,"capabilityCache":{"token":"b1:aa","version":1},"displayId":"","maximum":255,"requestedLevel":50,"success":true,"supported":true})"},
    };
    // clang-format on
    for (const auto& [situation, request, scripted, trace, json] : cases) {
        SCOPED_TRACE(situation);
        Monitor monitor = scripted;
        EXPECT_EQ(BrightnessResultToJson(RunBrightnessEngine(request, monitor.Io())).dump(), json);
        EXPECT_EQ(monitor.trace, trace);
    }
}

TEST(BrightnessConversions, RoundToTheNearestStepAndHitBothEndsExactly) {
    // The level, the maximum, the raw value a set writes, what a status then reports.
    const std::tuple<std::int32_t, std::uint32_t, std::uint32_t, std::int32_t> cases[] = {
        {50, 100, 50, 50},      {50, 255, 128, 50},       {33, 3, 1, 33},         {67, 3, 2, 67},
        {0, 255, 0, 0},         {100, 255, 255, 100},     {100, 7, 7, 100},       {1, 7, 0, 0},
        {99, 65535, 64880, 99}, {100, 65535, 65535, 100}, {50, 65535, 32768, 50}, {-5, 10, 0, 0},
    };
    for (const auto& [level, maximum, raw, readBack] : cases) {
        EXPECT_EQ(BrightnessRaw(level, maximum), raw) << level << " of " << maximum;
        EXPECT_EQ(BrightnessPercent(raw, maximum), readBack) << raw << " of " << maximum;
    }
}

TEST(PrintBrightnessResult, WritesNullsForWhatIsUnknown) {
    std::ostringstream out;
    // clang-format off
    PrintBrightnessResult(out, {.maximum = 0, .requestedLevel = 0, .reportCapabilityCache = true, .nativeError = 31, .errorCode = "X", .errorMessage = "\xff"});
    // clang-format on
    EXPECT_EQ(out.str(),
              "[VXNimboBrightness]{\"brightness\":null,\"capabilityCache\":null,\"displayId\":\"\","
              "\"errorCode\":\"X\",\"errorMessage\":\"\xef\xbf\xbd\",\"maximum\":null,"
              "\"nativeError\":31,\"requestedLevel\":0,\"success\":false,\"supported\":false}\n");
}

}  // namespace
}  // namespace nimbo::test
