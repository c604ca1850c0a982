#include "readiness/ensure_command.h"

#include "displays/display_enumeration.h"
#include "readiness/display_mode.h"
#include "readiness/dpi_scale.h"
#include "readiness_test_machine.h"

#include <gtest/gtest.h>

namespace lenticor::testing {
namespace {

using nimbo::DisplayMode;

TEST(SummarizeNimboModes, CountsDistinctModesAndNamesTheLargestAndTheTarget) {
    // clang-format off
    const std::pair<std::vector<DisplayMode>, std::string> cases[] = {
        {{}, "Nimbo modes: none listed"},
        {{{3840, 2160, 30}, {1920, 1080, 60}, {3840, 2160, 30}, {1920, 1080, 60}}, "Nimbo modes (2): max 3840x2160@30Hz; 3840x2160@60Hz not listed"},
        {{{3840, 2160, 60}, {2160, 3840, 60}}, "Nimbo modes (2): max 2160x3840@60Hz; 3840x2160@60Hz listed"},
        {{{3840, 2160, 60}, {7680, 4320, 24}}, "Nimbo modes (2): max 7680x4320@24Hz; 3840x2160@60Hz listed"},
    };
    // clang-format on
    for (const auto& [modes, expected] : cases) {
        EXPECT_EQ(nimbo::SummarizeNimboModes(modes), expected);
    }
}

// "[ready] [applied] <previous> -> <current> #<index> <id>[ <code>: <message>]",
// "?" for a mode that is not known.
std::string Describe(const nimbo::NimboEnsureResult& result) {
    const auto mode = [](const nimbo::KnownDisplayMode& known) {
        return known.known ? nimbo::FormatDisplayMode(known.mode) : "?";
    };
    return std::string(result.ready ? "ready " : "") + (result.applied ? "applied " : "") +
           mode(result.previousMode) + " -> " + mode(result.currentMode) + " #" +
           std::to_string(result.displayIndex) + " " + result.nimboId +
           (result.errorCode.empty() ? "" : " " + result.errorCode + ": " + result.errorMessage);
}

// A refusing driver, a target mode that is not offered and a machine without
// a Nimbo are pinned end to end, with their exact messages.
TEST(EnsureNimboMode, SetsThe60HzModeAndExplainsEveryRefusal) {
    struct Case {
        const char* situation;
        nlohmann::json changes;
        std::string expected;
        std::uint32_t refreshAfter = 30;  // the output's mode afterwards
        bool machineChanged = false;
        std::string target = "";
    };
    const std::string failed = " #1 nimbo NIMBO_MODE_SET_FAILED: ";
    const std::string listed = "Nimbo modes (2): max 3840x2160@60Hz; 3840x2160@60Hz listed";
    // clang-format off
    const nlohmann::json kNimbo = {{"mode", Mode(3840, 2160, 30)}, {"modes", {Mode(3840, 2160, 30), Mode(3840, 2160, 60)}},
                                   {"monitor", {{"hardwareId", R"(MONITOR\KZV1A07\{4d36e96e-e325-11ce-bfc1-08002be10318}\0001)"}}}};
    const Case cases[] = {
        {"already at the target", Member("mode", Mode(3840, 2160, 60)), "ready 3840x2160@60Hz -> 3840x2160@60Hz #1 nimbo", 60},
        {"accepted and applied", nlohmann::json::object(), "ready applied 3840x2160@30Hz -> 3840x2160@60Hz #1 nimbo:ABC", 60, true, "ABC"},
        {"the driver ends elsewhere", Member("modeChange", Member("endsIn", Mode(3840, 2160, 59))), "3840x2160@30Hz -> 3840x2160@59Hz" + failed + "Mode change did not stick; got 3840x2160@59Hz; " + listed, 59, true},
        {"the current mode cannot be read", Member("faults", Member("EnumDisplaySettingsW", true)), "? -> ?" + failed + "EnumDisplaySettingsW failed to read current mode"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto nimbo = kNimbo;
        nimbo.update(c.changes);
        ReadinessMachine pc(PanelAnd(nimbo));
        nimbo::EnumerationHistory history;
        const auto displays = nimbo::EnumerateDisplays(pc.platform, pc.log, history);
        const auto result = nimbo::EnsureNimboMode(pc.ports.displayDevices, c.target, displays);
        // clang-format off
        EXPECT_EQ(std::tuple(Describe(result), pc.machine.adapters[0].outputs[1].mode.refreshRate, pc.machine.readinessChanged),
                  std::tuple(c.expected, c.refreshAfter, c.machineChanged)) << c.situation;
        // clang-format on
    }
}

nlohmann::json Steps(int min, int current, int max,
                     nlohmann::json more = nlohmann::json::object()) {
    more.update({{"min", min}, {"current", current}, {"max", max}});
    return more;
}

// "[applied] [already] <previous> -> <current>[: <error>]".
std::string Describe(const nimbo::InitialDpiResult& result) {
    return std::string(result.applied ? "applied " : "") +
           (result.alreadyAtTarget ? "already " : "") + std::to_string(result.previousPercent) +
           " -> " + std::to_string(result.currentPercent) +
           (result.error.empty() ? "" : ": " + result.error);
}

TEST(ApplyInitialDpi, SendsTheStepRelativeToTheRecommendedScaleAndReadsItBack) {
    struct Case {
        const char* situation;
        nlohmann::json dpi;
        std::int32_t percent;
        std::string expected;
        std::int32_t stepAfter = 0;  // the output's current step afterwards
        bool active = true;
        std::uint32_t queryChanges = 0;  // the desktop changes between sizing and query
    };
    const auto at150 = Steps(-2, 0, 5);
    // clang-format off
    const Case cases[] = {
        {"150 % to 200 %, sized again twice", at150, 200, "applied 150 -> 200", 2, true, 2},
        {"200 % down to 100 %, the lowest step", Steps(-2, 2, 5), 100, "applied 200 -> 100", -2},
        {"recommended 100 %", Steps(0, 0, 3), 125, "applied 100 -> 125", 1},
        {"the largest step", at150, 300, "applied 150 -> 300", 5},
        {"one step beyond the largest", at150, 350, "150 -> 150: Requested DPI percent outside monitor range: 350"},
        {"not a Windows percentage", at150, 110, "0 -> 0: Unsupported DPI percent: 110"},
        {"last table entry recommended", Steps(-11, 0, 0), 500, "already 500 -> 500"},
        {"recommended beyond the table", Steps(-12, -1, 0), 100, "0 -> 0: DisplayConfig DPI scale is outside supported percent table", -1},
        {"already there", at150, 150, "already 150 -> 150"},
        // A monitor that never had a scale stored, as Windows 11 answers it
        // (the end-to-end case moves it from there to another scale).
        {"never stored, the recommended scale asked for", Steps(-2, 1234568, 5), 150, "already 150 -> 150", 1234568},
        {"never stored and the set is ignored", Steps(-2, 1234568, 5, Member("setIgnored", true)), 200, "applied 150 -> 150", 1234568},
        {"output off the desktop", at150, 200, R"(0 -> 0: DisplayConfig source not found for \\.\DISPLAY2)", 0, false},
        {"the scale cannot be read", Steps(-2, 0, 5, Member("getFails", 31)), 200, "0 -> 0: DisplayConfigGetDeviceInfo(GET_DPI_SCALE) failed: 31"},
        {"the set is refused", Steps(-2, 0, 5, Member("setFails", 5)), 200, "150 -> 150: DisplayConfigSetDeviceInfo(SET_DPI_SCALE) failed: 5"},
        {"the desktop keeps changing", at150, 200, "0 -> 0: QueryDisplayConfig failed: 122", 0, true, 3},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto output = Member("dpi", c.dpi);
        output["active"] = c.active;
        ReadinessMachine pc(PanelAnd(output));
        pc.machine.desktop.faults.queryChanges = c.queryChanges;
        // clang-format off
        const auto result = nimbo::ApplyInitialDpi(pc.ports.displayConfig, LR"(\\.\DISPLAY2)", c.percent);
        EXPECT_EQ(std::tuple(result.requested, result.percent, Describe(result), pc.machine.adapters[0].outputs[1].dpi.current),
                  std::tuple(true, c.percent, c.expected, c.stepAfter)) << c.situation;
        // clang-format on
    }
}

// Words that are no number and numbers past INT_MAX are pinned end to end.
TEST(EnsureNimboReadyArguments, TargetIsTheFirstWordDpiIsTheLastValidValue) {
    const std::wstring dpi = L"--initial-dpi";
    const std::tuple<CommandArgs, std::string, bool, std::int32_t> cases[] = {
        {{}, "", false, 0},
        {{L"nimbo:ABC"}, "ABC", false, 0},
        {{L"nimbo:"}, "", false, 0},
        {{L"Nimbo:ABC"}, "", false, 0},
        {{dpi, L"150", L"nimbo:ABC"}, "", true, 150},
        {{L"nimbo:ABC", dpi}, "ABC", true, 0},
        {{dpi, L"0"}, "", true, 0},
        {{dpi, L"125", dpi, L"x"}, "", true, 125},
        {{dpi, L"125", dpi, L"175"}, "", true, 175},
        {{dpi, L"-5"}, "", true, 0},
        {{dpi, dpi, L"150"}, "", true, 0},
    };
    for (const auto& [args, target, dpiRequested, percent] : cases) {
        const auto request = nimbo::ParseInitialDpi(args);
        EXPECT_EQ(std::tuple(nimbo::ParseNimboTarget(args), request.requested, request.percent),
                  std::tuple(target, dpiRequested, percent))
            << ::testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace lenticor::testing
