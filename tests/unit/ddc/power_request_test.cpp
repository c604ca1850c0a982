// What the host exchanges with the power command: the command line, the
// result line and the cancel line on standard input.

#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "ddc/power_command.h"
#include "ddc/power_request.h"
#include "platform/standard_input.h"
#include "test_platform.h"

namespace nimbo::test {
namespace {

using A = DisplayPowerAction;
const char* kIdMessage = "expected optional --display-id <Windows monitor device ID>";
const char* kHintMessage = "capability hint requires explicit Off and a bounded version-1 token";
const char* kStateOnlyMessage = "state-only requires status or reconcile and may appear only once";

TEST(ParseDisplayPowerRequest, AcceptsAndRejectsPerRule) {
    const std::wstring id = L"--display-id", hint = L"--nimbo-power-capability-v1";
    const std::wstring only = L"--nimbo-power-state-only", dev = L"MONITOR\\KZV1A07\\x";
    const std::wstring t2048(2048, L'a');
    struct Case {
        const char* situation;
        std::vector<std::wstring> args;
        const char* message = "";
        DisplayPowerRequest request = {};
    };
    // clang-format off
    const Case cases[] = {
        {.situation = "nothing", .args = {}, .message = "missing status|reconcile|on|off"},
        {.situation = "unknown action", .args = {L"standby"}, .message = "action must be status, reconcile, on, or off"},
        {.situation = "status", .args = {L"status"}},
        {.situation = "Reconcile reads", .args = {L"Reconcile"}},
        {.situation = "OFF", .args = {L"OFF"}, .request = {.action = A::Off}},
        {.situation = "on with an id", .args = {L"on", id, dev}, .request = {.action = A::On, .displayId = dev}},
        {.situation = "option names keep their case", .args = {L"on", L"--Display-Id", dev}, .message = kIdMessage},
        {.situation = "an id without value", .args = {L"status", id}, .message = kIdMessage},
        {.situation = "an empty id", .args = {L"status", id, L""}, .message = kIdMessage},
        {.situation = "options swapped", .args = {L"off", hint, L"p1:x", id, dev}, .message = kIdMessage},
        {.situation = "off with a 2048-character token", .args = {L"off", id, dev, hint, t2048}, .request = {.action = A::Off, .displayId = dev, .capabilityHint = std::string(2048, 'a')}},
        {.situation = "a 2049-character token", .args = {L"off", id, dev, hint, t2048 + L"a"}, .message = kHintMessage},
        {.situation = "an empty token", .args = {L"off", id, dev, hint, L""}, .message = kHintMessage},
        {.situation = "a token with a line feed", .args = {L"off", id, dev, hint, L"p1\n"}, .message = kHintMessage},
        {.situation = "a token for on", .args = {L"on", id, dev, hint, L"p1:x"}, .message = kHintMessage},
        {.situation = "state only first", .args = {L"status", only, id, dev}, .request = {.displayId = dev, .stateOnly = true}},
        {.situation = "state only last", .args = {L"reconcile", id, dev, only}, .request = {.displayId = dev, .stateOnly = true}},
        {.situation = "state only between id and value", .args = {L"status", id, only, dev}, .request = {.displayId = dev, .stateOnly = true}},
        {.situation = "state only twice", .args = {L"status", only, only}, .message = kStateOnlyMessage},
        {.situation = "state only with off", .args = {L"off", only}, .message = kStateOnlyMessage},
        {.situation = "state only in a different case is a stray word", .args = {L"status", L"--Nimbo-Power-State-Only"}, .message = kIdMessage},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        DisplayPowerRequest request{.action = A::On, .displayId = L"old", .stateOnly = true};
        std::string message = "old";
        EXPECT_EQ(ParseDisplayPowerRequest(c.args, request, message), !*c.message);
        EXPECT_EQ(message, c.message);
        if (!*c.message) {
            EXPECT_EQ(request.action, c.request.action);
            EXPECT_EQ(request.displayId, c.request.displayId);
            EXPECT_EQ(request.capabilityHint, c.request.capabilityHint);
            EXPECT_EQ(request.stateOnly, c.request.stateOnly);
            continue;
        }
        // The command table answers the same words with the command's default result.
        lenticor::testing::CapturingConsole console;
        lenticor::testing::FixedClock clock;
        lenticor::testing::EmptyMachine machine;
        lenticor::Platform platform = machine.MakePlatform(console, clock);
        std::vector<const wchar_t*> argv = {L"lenticor.exe", L"--nimbo-display-power"};
        for (const auto& arg : c.args)
            argv.push_back(arg.c_str());
        EXPECT_EQ(lenticor::RunCommandLine(int(argv.size()), argv.data(), platform,
                                           lenticor::BuildCommandTable()),
                  2);
        EXPECT_EQ(console.out.str(),
                  std::string(kPowerResultTag) +
                      R"({"displayId":"","errorCode":"INVALID_ARGUMENT",)" + R"("errorMessage":")" +
                      c.message + R"(","state":"unknown","success":false,"supported":false})" +
                      "\n");
    }
}

TEST(PrintPowerResult, WritesTheMembersThatApply) {
    using S = DisplayPowerState;
    struct Case {
        const char* situation;
        DisplayPowerResult result;
        std::uint32_t lastError = 0;
        const char* line;
    };
    // clang-format off
    const Case cases[] = {
        {.situation = "the dispatcher's rejection default", .result = {}, .line = R"({"displayId":"","state":"unknown","success":false,"supported":false})"},
        {.situation = "a token on success", .result = {.success = true, .supported = true, .displayId = L"MONITOR\\KZV1A07\\\u00e9", .state = S::Off, .requestedState = S::Off, .capabilityToken = "p1:ab"},
         .line = "{\"capabilityCache\":{\"token\":\"p1:ab\",\"version\":1},\"displayId\":\"MONITOR\\\\KZV1A07\\\\\xc3\xa9\",\"requestedState\":\"off\",\"state\":\"off\",\"success\":true,\"supported\":true}"},
        {.situation = "no token on failure", .result = {.supported = true, .errorCode = "DDC_READ_FAILED", .errorMessage = "m", .capabilityToken = "p1:ab"}, .line = R"({"displayId":"","errorCode":"DDC_READ_FAILED","errorMessage":"m","state":"unknown","success":false,"supported":true})"},
        {.situation = "no token when unsupported", .result = {.success = true, .state = S::On, .capabilityToken = "p1:ab"}, .line = R"({"displayId":"","state":"on","success":true,"supported":false})"},
        {.situation = "the last native error replaces one set before", .result = {.requestedState = S::On, .nativeError = 5}, .lastError = 4294967295u, .line = R"({"displayId":"","nativeError":4294967295,"requestedState":"on","state":"unknown","success":false,"supported":false})"},
        {.situation = "a native error set without a failed D6 call", .result = {.nativeError = 5}, .line = R"({"displayId":"","nativeError":5,"state":"unknown","success":false,"supported":false})"},
        {.situation = "invalid UTF-8 is replaced", .result = {.errorCode = "X", .errorMessage = "\xff"}, .line = "{\"displayId\":\"\",\"errorCode\":\"X\",\"errorMessage\":\"\xef\xbf\xbd\",\"state\":\"unknown\",\"success\":false,\"supported\":false}"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        lastDdcNativeError = c.lastError;
        std::ostringstream out;
        PrintPowerResult(out, c.result);
        EXPECT_EQ(out.str(), std::string(kPowerResultTag) + c.line + "\n");
    }
    lastDdcNativeError = 0;
}

// Standard input as a pipe that delivers the given chunks, one per read.
class ScriptedInput final : public lenticor::StandardInput {
  public:
    bool IsPipe() override { return true; }
    bool PeekAvailable(std::uint32_t& available) override {
        ++peeks;
        available = chunks.empty() ? 0 : std::uint32_t(chunks.front().size());
        return !peekFails;
    }
    bool Read(std::span<char> buffer, std::uint32_t& read) override {
        std::string& chunk = chunks.front();
        read = std::uint32_t(std::min(buffer.size(), chunk.size()));
        chunk.copy(buffer.data(), read);
        largestRead = std::max<std::size_t>(largestRead, buffer.size());
        chunk.erase(0, read);
        if (chunk.empty())
            chunks.pop_front();
        return !readFails;
    }
    std::deque<std::string> chunks;
    bool peekFails = false, readFails = false;
    int peeks = 0;
    std::size_t largestRead = 0;
};

TEST(StdinCancelWatcher, CountsOnlyTheExactCancelLine) {
    struct Case {
        const char* situation;
        std::vector<std::string> chunks;
        std::vector<bool> polls;  // one poll per chunk, then one more
        bool peekFails = false, readFails = false;
    };
    // clang-format off
    const Case cases[] = {
        {.situation = "cancel", .chunks = {"cancel\n"}, .polls = {true, true}},
        {.situation = "carriage return", .chunks = {"cancel\r\n"}, .polls = {false, false}},
        {.situation = "leading blank", .chunks = {" cancel\n"}, .polls = {false, false}},
        {.situation = "upper case", .chunks = {"CANCEL\n"}, .polls = {false, false}},
        {.situation = "split across reads", .chunks = {"can", "cel", "\n"}, .polls = {false, false, true, true}},
        {.situation = "after another line", .chunks = {"status\ncancel\n"}, .polls = {true, true}},
        {.situation = "a long line is dropped up to its line feed", .chunks = {"1234567cancel", "\n", "cancel\n"}, .polls = {false, false, true, true}},
        {.situation = "seven characters", .chunks = {"cancelx\n"}, .polls = {false, false}},
        {.situation = "sticky once seen", .chunks = {"cancel\n", "x\n"}, .polls = {true, true, true}},
        {.situation = "a failing peek forgets the pipe", .chunks = {"cancel\n"}, .polls = {false, false}, .peekFails = true},
        {.situation = "a failing read forgets the pipe", .chunks = {"cancel\n", "cancel\n"}, .polls = {false, false, false}, .readFails = true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        ScriptedInput input;
        input.chunks.assign(c.chunks.begin(), c.chunks.end());
        input.peekFails = c.peekFails;
        input.readFails = c.readFails;
        StdinCancelWatcher watcher(&input);
        std::vector<bool> polls;
        for (std::size_t i = 0; i < c.polls.size(); ++i)
            polls.push_back(watcher.Poll());
        EXPECT_EQ(polls, c.polls);
        if (c.peekFails || c.readFails) {
            EXPECT_EQ(input.peeks, 1);
        }
    }
}

TEST(StdinCancelWatcher, NeverReadsMoreThanAvailableOrAKilobyte) {
    ScriptedInput input;
    input.chunks = {std::string(3000, 'x') + "\ncancel\n"};
    StdinCancelWatcher watcher(&input);
    int polls = 0;
    while (!watcher.Poll() && ++polls < 10) {
    }
    EXPECT_EQ(polls, 2);
    EXPECT_EQ(input.largestRead, 1024u);
    EXPECT_FALSE(StdinCancelWatcher(nullptr).Poll());
}

}  // namespace
}  // namespace nimbo::test
