#include "app/dispatcher.h"

#include "app/usage.h"
#include "test_platform.h"

#include <gtest/gtest.h>

namespace lenticor {
namespace {

struct EchoRequest {};

// A command built from the generic pieces, as every subsystem registers its own.
struct Recorder {
    std::vector<CommandArgs> parsed;
    int runs = 0;
};

std::vector<Command> TableWithEcho(Recorder& recorder) {
    auto table = BuildCommandTable();
    table.push_back(MakeParsedCommand<EchoRequest>(
        L"--echo",
        {.parse =
             [&recorder](const CommandArgs& args, EchoRequest&, std::string& message) {
                 recorder.parsed.push_back(args);
                 message = "expected an action";
                 return !args.empty();
             },
         .run = [&recorder](Platform&, const EchoRequest&) { return ++recorder.runs, 7; },
         .defaultResult =
             [](const EchoRequest&) {
                 return nlohmann::json{{"success", false}};
             },
         .tag = "[VXEcho]",
         .handling = Utf8Handling::Replace}));
    return table;
}

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

Outcome RunRaw(int argc, const wchar_t* const* argv, const std::vector<Command>& table) {
    testing::CapturingConsole console;
    testing::FixedClock clock;
    testing::EmptyMachine machine;
    Platform platform = machine.MakePlatform(console, clock);
    const int code = RunCommandLine(argc, argv, platform, table);
    return {code, console.out.str(), console.err.str()};
}

Outcome RunWith(std::vector<const wchar_t*> argv, const std::vector<Command>& table) {
    argv.push_back(nullptr);
    return RunRaw(static_cast<int>(argv.size() - 1), argv.data(), table);
}

std::string Usage() {
    std::ostringstream out;
    PrintUsage(out);
    return out.str();
}

TEST(Dispatcher, MatchesExactlyAndOtherwisePrintsUsageWithExit2) {
    Recorder recorder;
    const auto table = TableWithEcho(recorder);
    const wchar_t* nullSecond[] = {L"lenticor.exe", nullptr};
    struct Case {
        Outcome run;
        std::string err;
    };
    // clang-format off
    const Case cases[] = {
        {.run = RunWith({L"lenticor.exe", L"--help=1"}, table), .err = "Unknown lenticor command: --help=1\n"},
        {.run = RunWith({L"lenticor.exe", L"--ECHO", L"x"}, table), .err = "Unknown lenticor command: --ECHO\n"},
        // An unpaired surrogate is written as U+FFFD, the rest of the name whole.
        {.run = RunWith({L"lenticor.exe", L"--\xD800x"}, table), .err = "Unknown lenticor command: --\xEF\xBF\xBDx\n"},
        {.run = RunRaw(3, nullptr, table), .err = ""},
        {.run = RunRaw(2, nullSecond, table), .err = ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(c.run.exitCode, 2);
        EXPECT_EQ(c.run.out, Usage());
        EXPECT_EQ(c.run.err, c.err);
    }
    EXPECT_TRUE(recorder.parsed.empty());
}

TEST(Dispatcher, ParserGetsArgumentsAfterTheNameAndRunDecidesTheExitCode) {
    Recorder recorder;
    const auto table = TableWithEcho(recorder);
    const auto run = RunWith({L"lenticor.exe", L"--echo", L"status", L"--x"}, table);
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(run.out, "");
    const auto rejected = RunWith({L"lenticor.exe", L"--echo"}, table);
    EXPECT_EQ(rejected.exitCode, 2);
    EXPECT_EQ(rejected.out,
              "[VXEcho]{\"errorCode\":\"INVALID_ARGUMENT\",\"errorMessage\":\"expected an "
              "action\",\"success\":false}\n");
    EXPECT_EQ(recorder.parsed, (std::vector<CommandArgs>{{L"status", L"--x"}, {}}));
    EXPECT_EQ(recorder.runs, 1);
}

}  // namespace
}  // namespace lenticor
