#include "app/dispatcher.h"

#include "app/usage.h"
#include "test_platform.h"

#include <gtest/gtest.h>

namespace lenticor {
namespace {

struct EchoRequest {
    std::wstring action = L"none";
};

// A parser command built from the generic pieces, as every subsystem registers
// its own: it records what it was given so the calling order can be checked.
struct Recorder {
    std::vector<CommandArgs> parsed;
    int runs = 0;
};

std::vector<Command> TableWithEcho(Recorder& recorder) {
    auto table = BuildCommandTable();
    table.push_back(MakeParsedCommand<EchoRequest>(
        L"--echo",
        {.parse =
             [&recorder](const CommandArgs& args, EchoRequest& request, std::string& message) {
                 recorder.parsed.push_back(args);
                 if (args.empty()) {
                     message = "expected an action";
                     return false;
                 }
                 request.action = args[0];
                 return true;
             },
         .run = [&recorder](Platform&, const EchoRequest&) { return ++recorder.runs, 7; },
         .defaultResult =
             [](const EchoRequest&) {
                 return nlohmann::json{{"success", false}, {"action", "none"}};
             },
         .tag = "[VXEcho]",
         .handling = Utf8Handling::Replace}));
    return table;
}

struct Run {
    int exitCode;
    std::string out;
    std::string err;
    std::wstring wideErr;
};

Run RunWith(std::vector<const wchar_t*> argv, const std::vector<Command>& table) {
    testing::CapturingConsole console;
    testing::FixedClock clock;
    testing::EmptyMachine machine;
    Platform platform = machine.MakePlatform(console, clock);
    argv.push_back(nullptr);
    const int code =
        RunCommandLine(static_cast<int>(argv.size() - 1), argv.data(), platform, table);
    return {code, console.out.str(), console.err.str(), console.wideErr.str()};
}

std::string Usage() {
    std::ostringstream out;
    PrintUsage(out);
    return out.str();
}

TEST(Dispatcher, UsageTextIsFourteenLinesAndListsNoHelpOption) {
    const auto usage = Usage();
    EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 14);
    EXPECT_EQ(usage.rfind("lenticor utility commands\n\nUsage:\n  lenticor.exe --nimbo-desktop", 0),
              0u);
    EXPECT_EQ(usage.find("--help"), std::string::npos);
}

TEST(Dispatcher, MatchesExactlyAndOtherwisePrintsUsageWithExit2) {
    Recorder recorder;
    const auto table = TableWithEcho(recorder);
    struct Case {
        std::vector<const wchar_t*> argv;
        int exitCode;
        std::wstring wideErr;
    };
    const Case cases[] = {
        {{L"lenticor.exe"}, 2, L""},
        {{L"lenticor.exe", L"--help", L"extra"}, 0, L""},
        {{L"lenticor.exe", L"-h"}, 0, L""},
        {{L"lenticor.exe", L"--HELP"}, 2, L"Unknown lenticor command: --HELP\n"},
        {{L"lenticor.exe", L"--hel"}, 2, L"Unknown lenticor command: --hel\n"},
        {{L"lenticor.exe", L"--help=1"}, 2, L"Unknown lenticor command: --help=1\n"},
        {{L"lenticor.exe", L""}, 2, L"Unknown lenticor command: \n"},
        {{L"lenticor.exe", L"--ECHO", L"x"}, 2, L"Unknown lenticor command: --ECHO\n"},
    };
    for (const auto& c : cases) {
        const auto run = RunWith(c.argv, table);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.argv.size();
        EXPECT_EQ(run.out, Usage());
        EXPECT_EQ(run.wideErr, c.wideErr);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(recorder.parsed.empty());
}

TEST(Dispatcher, NullArgumentVectorsPrintUsage) {
    testing::CapturingConsole console;
    testing::FixedClock clock;
    testing::EmptyMachine machine;
    Platform platform = machine.MakePlatform(console, clock);
    EXPECT_EQ(RunCommandLine(3, nullptr, platform, BuildCommandTable()), 2);
    const wchar_t* nullSecond[] = {L"lenticor.exe", nullptr};
    EXPECT_EQ(RunCommandLine(2, nullSecond, platform, BuildCommandTable()), 2);
    EXPECT_EQ(console.out.str(), Usage() + Usage());
    EXPECT_EQ(console.wideErr.str(), L"");
}

TEST(Dispatcher, ParserGetsArgumentsAfterTheNameAndRunDecidesTheExitCode) {
    Recorder recorder;
    const auto run =
        RunWith({L"lenticor.exe", L"--echo", L"status", L"--x"}, TableWithEcho(recorder));
    EXPECT_EQ(run.exitCode, 7);
    ASSERT_EQ(recorder.parsed.size(), 1u);
    EXPECT_EQ(recorder.parsed[0], (CommandArgs{L"status", L"--x"}));
    EXPECT_EQ(recorder.runs, 1);
    EXPECT_EQ(run.out, "");
}

TEST(Dispatcher, RejectedRequestPrintsDefaultResultWithInvalidArgument) {
    Recorder recorder;
    const auto run = RunWith({L"lenticor.exe", L"--echo"}, TableWithEcho(recorder));
    EXPECT_EQ(run.exitCode, 2);
    ASSERT_EQ(recorder.parsed.size(), 1u);
    EXPECT_TRUE(recorder.parsed[0].empty());
    EXPECT_EQ(recorder.runs, 0);
    EXPECT_EQ(run.out,
              "[VXEcho]{\"action\":\"none\",\"errorCode\":\"INVALID_ARGUMENT\","
              "\"errorMessage\":\"expected an action\",\"success\":false}\n");
}

}  // namespace
}  // namespace lenticor
