#include "displays/display_enumeration.h"

#include "app/diagnostic_log.h"
#include "display_test_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lenticor::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Run {
    std::vector<nimbo::DisplayInfo> displays;
    std::string err;
};

Run Enumerate(const nlohmann::json& document, nimbo::EnumerationHistory& history) {
    DisplayTestMachine pc(document);
    DiagnosticLog log(pc.platform().console.Err(), pc.platform().clock);
    auto displays = nimbo::EnumerateDisplays(pc.platform(), log, history);
    return {std::move(displays), pc.Err()};
}

Run Enumerate(const nlohmann::json& document) {
    nimbo::EnumerationHistory fresh;
    return Enumerate(document, fresh);
}

const nlohmann::json kNimbo = Monitor("KZV1A07", "Generic PnP Monitor", {{"name", "Korvo Nimbo"}});

TEST(EnumerateDisplays, PanelAndNimboGiveTheExactDetailAndSummaryLines) {
    auto document =
        OneAdapter({Output(0, 0, 1920, 1080, Monitor("LPN0A81", "Generic PnP Monitor", nullptr)),
                    Output(1920, 0, 3840, 2160, kNimbo)},
                   "Simulated GPU");
    document["adapters"][0]["outputs"][1]["orientation"] = 2;
    const auto run = Enumerate(document);
    EXPECT_EQ(run.err,
              "[00:00:00.000] [INFO] [DISPLAY] 📺 Display 0: LPN0A81\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Model Code: LPN0A81\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Device: \\\\.\\DISPLAY1\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Resolution: 1920x1080 @ 60Hz\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Position: (0,0)\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Color Depth: 32 bits\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Orientation: 0°\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Status: PRIMARY\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Adapter[0]: Simulated GPU\n"
              "[00:00:00.000] [INFO] [DISPLAY] 📺 Display 1: Korvo Nimbo\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Model Code: KZV1A07\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Device: \\\\.\\DISPLAY2\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Resolution: 3840x2160 @ 60Hz\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Position: (1920,0)\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Color Depth: 32 bits\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Orientation: 180°\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Status: Secondary\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Adapter[0]: Simulated GPU\n"
              "[00:00:00.000] [INFO] [DISPLAY] [TOPOLOGY] Current topology: Extend (extended "
              "desktop)\n"
              "[00:00:00.000] [INFO] [DISPLAY] 🎯 Display Enumeration Summary:\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Total displays found: 2\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Display topology: extend\n"
              "[00:00:00.000] [INFO] [DISPLAY]    Primary display index: 0\n"
              "[00:00:00.000] [INFO] [DISPLAY]    External display indices: 1\n");
    ASSERT_EQ(run.displays.size(), 2u);
    EXPECT_EQ(run.displays[1].manufacturerCode, L"KZV1A07");
    EXPECT_EQ(run.displays[1].orientation, 2);
}

TEST(EnumerateDisplays, OnlyTheFirstEnumerationOfAProcessWritesDetailLines) {
    const auto document = OneAdapter({Output(0, 0, 1920, 1080, kNimbo)});
    nimbo::EnumerationHistory history;
    const auto first = Enumerate(document, history);
    const auto second = Enumerate(document, history);
    EXPECT_THAT(first.err, HasSubstr("📺 Display 0: Korvo Nimbo"));
    EXPECT_THAT(second.err, Not(HasSubstr("📺")));
    EXPECT_THAT(second.err, HasSubstr("Total displays found: 1"));
    EXPECT_EQ(second.displays.size(), 1u);
}

TEST(EnumerateDisplays, AdapterAndOutputFailuresFallBackAsDescribed) {
    const nlohmann::json document = {
        {"adapters",
         {
             {{"description", "No Outputs"}},
             {{"description", "Broken Description"},
              {"faults", {{"GetDesc1", "0x80004005"}}},
              {"outputs",
               {Output(0, 0, 1920, 1080, kNimbo),
                [] {
                    auto output = Output(1920, 0, 1920, 1080, nullptr);
                    output["faults"] = {{"GetDesc", "0x887A0001"}};
                    return output;
                }(),
                [] {
                    auto output = Output(3840, 0, 1280, 1024, nullptr);
                    output["faults"] = {{"EnumDisplaySettingsW", true}};
                    return output;
                }()}}},
         }}};
    const auto run = Enumerate(document);
    ASSERT_EQ(run.displays.size(), 2u) << "the output whose description fails is skipped";
    for (std::uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(run.displays[i].index, i);
        EXPECT_EQ(run.displays[i].adapterIndex, 1u) << "the adapter without outputs still counts";
        EXPECT_EQ(run.displays[i].adapterName, L"Unknown");
    }
    EXPECT_EQ(run.displays[0].refreshRate, 60);
    EXPECT_EQ(run.displays[1].name, L"\\\\.\\DISPLAY3");
    EXPECT_EQ(run.displays[1].refreshRate, 0);
    EXPECT_EQ(run.displays[1].bitsPerPixel, 0);
    EXPECT_EQ(run.displays[1].friendlyName, L"Broken Description")
        << "without a monitor the name is the display adapter's device string, which does not "
           "depend on the DXGI description";
}

TEST(EnumerateDisplays, FactoryFailureLogsItsHresultAndListsNothing) {
    auto document = OneAdapter({Output(0, 0, 1920, 1080, kNimbo)});
    document["faults"] = {{"CreateDXGIFactory1", "0x887A0004"}};
    nimbo::EnumerationHistory history;
    const auto run = Enumerate(document, history);
    EXPECT_TRUE(run.displays.empty());
    EXPECT_EQ(run.err,
              "[00:00:00.000] [ERROR] [DISPLAY] Failed to create DXGI factory (HRESULT: "
              "0x887a0004)\n");
    EXPECT_FALSE(history.enumeratedBefore) << "a later enumeration must still be verbose";
}

TEST(EnumerateDisplays, ClonesAreMarkedPerPairAndCountedInTheSummary) {
    const auto document =
        OneAdapter({Output(0, 0, 1920, 1080, kNimbo), Output(0, 0, 1920, 1080, nullptr),
                    Output(0, 0, 1920, 1080, nullptr), Output(1920, 0, 1920, 1080, nullptr)});
    const auto run = Enumerate(document);
    ASSERT_EQ(run.displays.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(run.displays[i].isCloned) << i;
        EXPECT_TRUE(run.displays[i].isPrimary) << i;
    }
    EXPECT_FALSE(run.displays[3].isCloned) << "touching edges are no clone";
    for (const char* pair : {"0 and 1", "0 and 2", "1 and 2"}) {
        EXPECT_THAT(run.err, HasSubstr(std::string("[WARNING] [TOPOLOGY] ⚠️ Displays ") + pair +
                                       " share the same coordinates - they are "
                                       "cloned/duplicated\n"));
    }
    EXPECT_THAT(run.err, HasSubstr("Primary display index: 2\n"));
    EXPECT_THAT(run.err, HasSubstr("External display indices: 3\n"));
    EXPECT_THAT(run.err,
                HasSubstr("[WARNING]    ⚠️ Cloned displays detected: 3 (capture may not work "
                          "correctly on cloned displays)\n"));
}

TEST(EnumerateDisplays, WithoutAnOutputAtTheOriginThereIsNoPrimary) {
    const auto run = Enumerate(
        OneAdapter({Output(100, 0, 800, 600, nullptr), Output(900, 0, 800, 600, nullptr)}));
    EXPECT_THAT(run.err, HasSubstr("Primary display index: Not found\n"));
    EXPECT_THAT(run.err, HasSubstr("External display indices: 0, 1\n"));
    EXPECT_THAT(run.err, Not(HasSubstr("Cloned displays detected")));
}

}  // namespace
}  // namespace lenticor::testing
