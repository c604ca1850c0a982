#include "displays/display_enumeration.h"

#include "display_test_machine.h"
#include "displays/display_topology.h"
#include "displays/list_displays_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lenticor::testing {
namespace {

using nimbo::DisplayTopology;
using ::testing::HasSubstr;
using ::testing::Not;

std::string EnumerationLog(const nlohmann::json& document, nimbo::EnumerationHistory& history) {
    ReadinessMachine pc(document);
    (void)nimbo::EnumerateDisplays(pc.platform, pc.log, history);
    return pc.Err();
}

nlohmann::json At(int x, int y) {
    return Output(x, y, 1920, 1080, nullptr);
}

// Calls that fail in the middle of the walks and a desktop without a primary
// are pinned end to end, on the troubled workstation.
TEST(EnumerateDisplays, LinesFollowClonesPrimariesAndOrientation) {
    auto rotated = At(0, 0);
    rotated["orientation"] = 3;
    struct Case {
        const char* situation;
        nlohmann::json document;
        std::vector<std::string> present;
        std::vector<std::string> absent = {};
    };
    // clang-format off
    const Case cases[] = {
        {"three outputs at the origin, one touching them", OneAdapter({At(0, 0), At(0, 0), At(0, 0), At(1920, 0)}),
         {"Displays 0 and 1 share the same coordinates - they are cloned/duplicated\n", "Displays 0 and 2 share", "Displays 1 and 2 share", "Primary display index: 2\n", "External display indices: 3\n",
          "[WARNING]    ⚠️ Cloned displays detected: 3 (capture may not work correctly on cloned displays)\n"}, {"and 3 share"}},
        {"rotated", OneAdapter({rotated}), {"270°"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        nimbo::EnumerationHistory history;
        const auto err = EnumerationLog(c.document, history);
        for (const auto& text : c.present) {
            EXPECT_THAT(err, HasSubstr(text)) << c.situation;
        }
        for (const auto& text : c.absent) {
            EXPECT_THAT(err, Not(HasSubstr(text))) << c.situation;
        }
    }
}

TEST(EnumerateDisplays, OnlyTheFirstSuccessfulEnumerationWritesDetailLines) {
    const auto document = OneAdapter({At(0, 0)});
    auto withoutFactory = document;
    withoutFactory["faults"] = {{"CreateDXGIFactory1", "0x887A0004"}};
    nimbo::EnumerationHistory history;
    EXPECT_THAT(EnumerationLog(withoutFactory, history), Not(HasSubstr("Total displays")));
    EXPECT_THAT(EnumerationLog(document, history), HasSubstr("📺 Display 0: GPU\n"));
    const auto later = EnumerationLog(document, history);
    EXPECT_THAT(later, Not(HasSubstr("📺")));
    EXPECT_THAT(later, HasSubstr("Total displays found: 1\n"));
}

TEST(ListDisplaysCommand, AStandardExceptionBecomesOneLastLineAndExitCodeOne) {
    ReadinessMachine pc(OneAdapter({At(0, 0)}));
    // Without a buffer every write fails, and the failure throws, as a closed pipe could.
    pc.console.out.std::ostream::rdbuf(nullptr);
    pc.console.out.exceptions(std::ios::failbit);
    EXPECT_EQ(nimbo::ListDisplaysCommand(pc.platform), 1);
    const auto err = pc.Err();
    const auto last = err.rfind("Error enumerating displays: ");
    ASSERT_NE(last, std::string::npos) << err;
    EXPECT_EQ(err.find('\n', last), err.size() - 1);
}

TEST(QueryDisplayTopology, MapsTheCurrentDatabaseTopologyAndEveryFailureToUnknown) {
    struct Case {
        nlohmann::json changes = nlohmann::json::object();
        std::string err;
        DisplayTopology expected = DisplayTopology::Unknown;
        bool active = true;
    };
    const std::string external =
        "[INFO] [DISPLAY] [TOPOLOGY] Current topology: External (single external display)\n";
    // clang-format off
    const Case cases[] = {
        {{{"topologyId", 8}, {"desktop", {{"faults", {{"queryChanges", 2u}}}}}}, external, DisplayTopology::External},  // sized again twice
        {{{"faults", {{"GetDisplayConfigBufferSizes", 87}}}}, "[ERROR] [DISPLAY] GetDisplayConfigBufferSizes failed\n"},
        {{{"faults", {{"QueryDisplayConfig", 31}}}}, "[WARNING] [TOPOLOGY] QueryDisplayConfig with QDC_DATABASE_CURRENT failed, using fallback detection\n"},
        {nlohmann::json::object(), "", DisplayTopology::Unknown, false},  // no active path: unknown without a word
    };
    // clang-format on
    for (const auto& c : cases) {
        auto document = OneAdapter({At(0, 0)});
        document["adapters"][0]["outputs"][0]["active"] = c.active;
        document.update(c.changes);
        ReadinessMachine pc(document);
        EXPECT_EQ(nimbo::QueryDisplayTopology(pc.platform.displayConfig, pc.log), c.expected)
            << c.err;
        EXPECT_EQ(pc.Err(), c.err.empty() ? "" : "[00:00:00.000] " + c.err);
    }
    EXPECT_STREQ(nimbo::TopologyName(static_cast<DisplayTopology>(-1)), "unknown");
}

}  // namespace
}  // namespace lenticor::testing
