#include "readiness/nimbo_match.h"

#include "app/result_line.h"
#include "app/text.h"
#include "readiness/check_command.h"

#include <gtest/gtest.h>

namespace lenticor::testing {
namespace {

using nimbo::DisplayInfo;
using nimbo::NimboDisplayClass;

DisplayInfo Display(std::wstring name, std::wstring friendlyName, std::wstring code) {
    DisplayInfo display;
    std::tie(display.name, display.friendlyName, display.manufacturerCode) =
        std::tie(name, friendlyName, code);
    return display;
}

TEST(ClassifyNimboDisplay, NameOrExactModelIsExactKzvWithUhdIsBackupCaseSensitively) {
    const std::tuple<const wchar_t*, const wchar_t*, NimboDisplayClass> cases[] = {
        {L"My Korvo Nimbo 2", L"", NimboDisplayClass::Exact},
        {L"Generic Monitor", L"KZV1A07", NimboDisplayClass::Exact},
        {L"", L"KZV2B09", NimboDisplayClass::Exact},
        {L"", L"kzv1a07", NimboDisplayClass::None},
        {L"korvo nimbo", L"", NimboDisplayClass::None},
        {L"Generic Monitor", L"KZV1A070", NimboDisplayClass::None},
        {L"UHD TV", L"KZV0000", NimboDisplayClass::Backup},
        {L"UHD", L"KZV", NimboDisplayClass::Backup},
        {L"Generic Monitor", L"KZV0000", NimboDisplayClass::None},
        {L"uhd", L"KZV0000", NimboDisplayClass::None},
        {L"UHD", L"XKZV000", NimboDisplayClass::None},
    };
    for (const auto& [friendlyName, code, expected] : cases) {
        EXPECT_EQ(nimbo::ClassifyNimboDisplay(Display(L"", friendlyName, code)), expected)
            << WideToUtf8(friendlyName) << " / " << WideToUtf8(code);
    }
}

// "<id>/<camera id>:<serial>/display <index>/ready", with "-" for a missing
// camera or display and without "/ready" when the candidate is not ready.
std::string Describe(const nimbo::NimboCandidate& c) {
    // clang-format off
    return c.id + "/" + (c.cameraReady ? std::to_string(c.cameraId) + ":" + c.serialNumber : "-") + "/" +
           (c.display.ready ? "display " + std::to_string(c.display.displayIndex) : "-") + (c.ready ? "/ready" : "");
    // clang-format on
}

TEST(PairNimboCandidates, GivesTheCameraToTheFirstDisplayOnlyAndNeedsItsSerialForReady) {
    struct Case {
        const char* situation;
        nimbo::NimboCamera camera;
        std::size_t displays;
        std::vector<std::string> expected;
    };
    const nimbo::NimboCamera withSerial{"SER", 705, true};
    const nimbo::NimboCamera withoutSerial{"", 705, true};
    const nimbo::NimboCamera absent{"SER", 705, false};
    // clang-format off
    const Case cases[] = {
        {"nothing", absent, 0, {}},
        {"camera without display", withSerial, 0, {"nimbo:SER/705:SER/-"}},
        {"camera without serial or display", withoutSerial, 0, {"/705:/-"}},
        {"camera without serial", withoutSerial, 1, {"/705:/display 3"}},
        {"camera, two displays", withSerial, 2, {"nimbo:SER/705:SER/display 3/ready", "/-/display 5"}},
        {"two displays, no camera", absent, 2, {"/-/display 3", "/-/display 5"}},
    };
    std::vector<nimbo::NimboDisplay> all(2);
    std::tie(all[0].displayIndex, all[1].displayIndex, all[0].ready, all[1].ready) = std::tuple(3u, 5u, true, true);
    // clang-format on
    for (const auto& c : cases) {
        const std::vector displays(all.begin(),
                                   all.begin() + static_cast<std::ptrdiff_t>(c.displays));
        std::vector<std::string> actual;
        for (const auto& candidate : nimbo::PairNimboCandidates(c.camera, displays)) {
            actual.push_back(Describe(candidate));
        }
        EXPECT_EQ(actual, c.expected) << c.situation;
    }
}

// Two Nimbos for a named target are pinned end to end.
TEST(MatchNimboTarget, WantsExactlyOneDisplayOfTheBestClass) {
    const auto nimbo1 = Display(LR"(\\.\DISPLAY1)", L"Korvo Nimbo", L"KZV1A07");
    const auto nimbo2 = Display(LR"(\\.\DISPLAY2)", L"Korvo Nimbo", L"KZV2B09");
    const auto uhdA = Display(LR"(\\.\DISPLAY3)", L"UHD A", L"KZV0000");
    const auto uhdB = Display(LR"(\\.\DISPLAY4)", L"UHD B", L"KZV0001");
    const auto panel = Display(LR"(\\.\DISPLAY1)", L"Laptop Panel", L"LPN0A81");
    const auto nameless = Display(L"", L"Korvo Nimbo", L"KZV1A07");
    struct Case {
        const char* situation;
        std::vector<DisplayInfo> displays;
        std::string expected;  // "<position>" or "<error code>: <message>"
    };
    const std::string ambiguous = "AMBIGUOUS_NIMBO_TARGET: Multiple Nimbo displays found; ";
    const std::string twoExact = " (2 exact matches: KZV1A07/Korvo Nimbo KZV2B09/Korvo Nimbo)";
    // clang-format off
    const Case cases[] = {
        {"exact beats backup", {uhdA, nimbo2, uhdB}, "1"},
        {"one backup", {panel, uhdB}, "1"},
        {"one output listed twice", {nimbo1, nimbo1}, "0"},
        {"a non-Nimbo of the same name does not hide it", {panel, nimbo1}, "1"},
        {"two exact", {nimbo1, nimbo2}, ambiguous + "specify nimbo:<id>" + twoExact},
        {"nameless records all count", {nameless, nameless}, ambiguous + "specify nimbo:<id> (2 exact matches: KZV1A07/Korvo Nimbo KZV1A07/Korvo Nimbo)"},
        {"two backup", {uhdA, panel, uhdB}, ambiguous + "specify nimbo:<id> (2 backup matches: KZV0000/UHD A KZV0001/UHD B)"},
        {"none", {panel}, "NO_NIMBO_TARGET: No Nimbo display found"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto match = nimbo::MatchNimboTarget(c.displays, false);
        EXPECT_EQ(match.position >= 0 ? std::to_string(match.position) + match.errorCode
                                      : match.errorCode + ": " + match.errorMessage,
                  c.expected)
            << c.situation;
    }
}

// The end-to-end cases pin a ready candidate, a camera that is not and the
// recovery list; a display that is not ready shows only its state too.
TEST(BuildNimboCheckJson, AMemberThatIsNotReadyShowsOnlyItsState) {
    EXPECT_EQ(SerializeResult(nimbo::BuildNimboCheckJson({nimbo::NimboCandidate{}}, {}),
                              Utf8Handling::Strict),
              R"({"candidates":[{"camera":{"ready":false},"display":{"ready":false},"id":"",)"
              R"("ready":false}]})");
}

}  // namespace
}  // namespace lenticor::testing
