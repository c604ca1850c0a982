// What the host exchanges with the power command: the command line, the
// result line and the cancel line on standard input.

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <tuple>

#include "app/text.h"
#include "ddc/power_command.h"
#include "ddc/power_request.h"
#include "platform/standard_input.h"

namespace nimbo::test {
namespace {

using A = DisplayPowerAction;
const char* kIdMessage = "expected optional --display-id <Windows monitor device ID>";
const char* kHintMessage = "capability hint requires explicit Off and a bounded version-1 token";
const char* kStateOnlyMessage = "state-only requires status or reconcile and may appear only once";

// A parsed request in short: the action, then only the members that are set.
std::string Describe(const DisplayPowerRequest& request) {
    std::string text = request.action == A::On ? "on" : request.action == A::Off ? "off" : "read";
    if (!request.displayId.empty())
        text += " id=" + lenticor::WideToUtf8(request.displayId);
    if (!request.capabilityHint.empty())
        text += " hint=" + request.capabilityHint;
    return text + (request.stateOnly ? " state-only" : "");
}

TEST(ParseDisplayPowerRequest, AcceptsAndRejectsPerRule) {
    const std::wstring id = L"--display-id", hint = L"--nimbo-power-capability-v1";
    const std::wstring only = L"--nimbo-power-state-only", dev = L"MONITOR\\KZV1A07\\x";
    const std::wstring t2048(2048, L'a');
    const std::string withId = " id=MONITOR\\KZV1A07\\x";
    // What the words parse to, or the message they are rejected with.
    // clang-format off
    const std::tuple<const char*, std::vector<std::wstring>, std::string> cases[] = {
        {"nothing", {}, "missing status|reconcile|on|off"},
        {"unknown action", {L"standby"}, "action must be status, reconcile, on, or off"},
        {"actions in any case", {L"Reconcile"}, "read"},
        {"on with an id", {L"on", id, dev}, "on" + withId},
        {"option names keep their case", {L"on", L"--Display-Id", dev}, kIdMessage},
        {"an id without value", {L"status", id}, kIdMessage},
        {"an empty id", {L"status", id, L""}, kIdMessage},
        {"off with a 2048-character token", {L"off", id, dev, hint, t2048}, "off" + withId + " hint=" + std::string(2048, 'a')},
        {"a 2049-character token", {L"off", id, dev, hint, t2048 + L"a"}, kHintMessage},
        {"an empty token", {L"off", id, dev, hint, L""}, kHintMessage},
        {"a token with a line feed", {L"off", id, dev, hint, L"p1\n"}, kHintMessage},
        {"a token for on", {L"on", id, dev, hint, L"p1:x"}, kHintMessage},
        {"state only between id and value", {L"status", id, only, dev}, "read" + withId + " state-only"},
        {"state only twice", {L"status", only, only}, kStateOnlyMessage},
        {"state only with off", {L"off", only}, kStateOnlyMessage},
    };
    // clang-format on
    for (const auto& [situation, args, expected] : cases) {
        SCOPED_TRACE(situation);
        DisplayPowerRequest request{.action = A::On, .displayId = L"old", .stateOnly = true};
        std::string message = "old";
        const bool parsed = ParseDisplayPowerRequest(args, request, message);
        EXPECT_EQ(parsed ? Describe(request) + message : message, expected);
    }
}

TEST(PrintPowerResult, WritesTheMembersThatApply) {
    using S = DisplayPowerState;
    // The result, the native error of the last failed D6 call, the line.
    // clang-format off
    const std::tuple<const char*, DisplayPowerResult, std::uint32_t, const char*> cases[] = {
        {"a token on success", {.success = true, .supported = true, .displayId = L"MONITOR\\KZV1A07\\\u00e9", .state = S::Off, .requestedState = S::Off, .capabilityToken = "p1:ab"}, 0, "{\"capabilityCache\":{\"token\":\"p1:ab\",\"version\":1},\"displayId\":\"MONITOR\\\\KZV1A07\\\\\xc3\xa9\",\"requestedState\":\"off\",\"state\":\"off\",\"success\":true,\"supported\":true}"},
        {"no token when unsupported", {.success = true, .state = S::On, .capabilityToken = "p1:ab"}, 0, R"({"displayId":"","state":"on","success":true,"supported":false})"},
        {"the last native error replaces one set before", {.requestedState = S::On, .nativeError = 5}, 4294967295u, R"({"displayId":"","nativeError":4294967295,"requestedState":"on","state":"unknown","success":false,"supported":false})"},
        {"a native error set without a failed D6 call", {.nativeError = 5}, 0, R"({"displayId":"","nativeError":5,"state":"unknown","success":false,"supported":false})"},
        {"invalid UTF-8 is replaced", {.errorCode = "X", .errorMessage = "\xff"}, 0, "{\"displayId\":\"\",\"errorCode\":\"X\",\"errorMessage\":\"\xef\xbf\xbd\",\"state\":\"unknown\",\"success\":false,\"supported\":false}"},
    };
    // clang-format on
    for (const auto& [situation, result, lastError, line] : cases) {
        SCOPED_TRACE(situation);
        lastDdcNativeError = lastError;
        std::ostringstream out;
        PrintPowerResult(out, result);
        EXPECT_EQ(out.str(), std::string(kPowerResultTag) + line + "\n");
    }
    lastDdcNativeError = 0;
}

// Standard input as a pipe that delivers the given chunks, one per read.
struct ScriptedInput final : lenticor::StandardInput {
    bool IsPipe() override { return true; }
    bool PeekAvailable(std::uint32_t& available) override {
        available = chunks.empty() ? 0 : std::uint32_t(chunks.front().size());
        return ++peeks, fails != 'p';
    }
    bool Read(std::span<char> buffer, std::uint32_t& read) override {
        EXPECT_EQ(buffer.size(), std::min<std::size_t>(chunks.front().size(), 1024))
            << "what is available, a kilobyte at most";
        read = std::uint32_t(chunks.front().copy(buffer.data(), buffer.size()));
        chunks.front().erase(0, read);
        if (chunks.front().empty())
            chunks.pop_front();
        return fails != 'r';
    }
    std::deque<std::string> chunks;
    char fails = 0;  // 'p': every peek fails, 'r': every read
    int peeks = 0;
};

TEST(StdinCancelWatcher, CountsOnlyTheExactCancelLine) {
    const std::string huge = std::string(3000, 'x') + "\ncancel\n";
    // The chunks the pipe delivers, what successive polls answer ('Y' a
    // cancel) and which call fails: 'p' the peek, 'r' the read.
    // clang-format off
    const std::tuple<const char*, std::vector<std::string>, std::string, char> cases[] = {
        {"carriage return", {"cancel\r\n"}, "--", 0},
        {"leading blank", {" cancel\n"}, "--", 0},
        {"split across reads, after another line", {"status\ncan", "cel", "\n"}, "--YY", 0},
        {"a long line is dropped up to its line feed", {"1234567cancel", "\n", "cancel\n"}, "--YY", 0},
        {"a kilobyte a read", {huge}, "--Y", 0},
        {"sticky once seen", {"cancel\n", "x\n"}, "YYY", 0},
        {"a failing peek forgets the pipe", {"cancel\n"}, "--", 'p'},
        {"a failing read forgets the pipe", {"cancel\n", "cancel\n"}, "---", 'r'},
    };
    // clang-format on
    for (const auto& [situation, chunks, polls, fails] : cases) {
        SCOPED_TRACE(situation);
        ScriptedInput input;
        input.chunks.assign(chunks.begin(), chunks.end());
        input.fails = fails;
        StdinCancelWatcher watcher(&input);
        std::string seen;
        for (std::size_t i = 0; i < polls.size(); ++i)
            seen += watcher.Poll() ? 'Y' : '-';
        EXPECT_EQ(seen, polls);
        EXPECT_EQ(fails ? input.peeks : 1, 1) << "a failing pipe is forgotten";
    }
    EXPECT_FALSE(StdinCancelWatcher(nullptr).Poll());
}

}  // namespace
}  // namespace nimbo::test
