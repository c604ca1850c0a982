#include "displays/display_topology.h"

#include "app/diagnostic_log.h"
#include "display_test_machine.h"

#include <gtest/gtest.h>

namespace lenticor::testing {
namespace {

struct Case {
    const char* situation;
    nlohmann::json machineChanges;
    nimbo::DisplayTopology expected;
    std::string line;  // the whole stderr
};

TEST(QueryDisplayTopology, MapsTheCurrentDatabaseTopologyAndEveryFailureToUnknown) {
    const Case cases[] = {
        {"internal",
         {{"topologyId", 1}},
         nimbo::DisplayTopology::Internal,
         "[00:00:00.000] [INFO] [DISPLAY] [TOPOLOGY] Current topology: Internal (single internal "
         "display)\n"},
        {"clone",
         {{"topologyId", 2}},
         nimbo::DisplayTopology::Clone,
         "[00:00:00.000] [INFO] [DISPLAY] [TOPOLOGY] Current topology: Clone (duplicate mode)\n"},
        {"extend",
         {{"topologyId", 4}},
         nimbo::DisplayTopology::Extend,
         "[00:00:00.000] [INFO] [DISPLAY] [TOPOLOGY] Current topology: Extend (extended "
         "desktop)\n"},
        {"external",
         {{"topologyId", 8}},
         nimbo::DisplayTopology::External,
         "[00:00:00.000] [INFO] [DISPLAY] [TOPOLOGY] Current topology: External (single external "
         "display)\n"},
        {"unlisted id",
         {{"topologyId", 16}},
         nimbo::DisplayTopology::Unknown,
         "[00:00:00.000] [WARNING] [TOPOLOGY] Unknown topology ID: 16\n"},
        {"sizing error: Win32 code without HRESULT suffix",
         {{"faults", {{"GetDisplayConfigBufferSizes", 87}}}},
         nimbo::DisplayTopology::Unknown,
         "[00:00:00.000] [ERROR] [DISPLAY] GetDisplayConfigBufferSizes failed\n"},
        {"query error",
         {{"faults", {{"QueryDisplayConfig", 31}}}},
         nimbo::DisplayTopology::Unknown,
         "[00:00:00.000] [WARNING] [TOPOLOGY] QueryDisplayConfig with QDC_DATABASE_CURRENT "
         "failed, using fallback detection\n"},
    };
    for (const auto& c : cases) {
        auto document = OneAdapter({Output(0, 0, 1920, 1080, nullptr)});
        document.update(c.machineChanges);
        DisplayTestMachine pc(document);
        DiagnosticLog log(pc.platform().console.Err(), pc.platform().clock);
        EXPECT_EQ(nimbo::QueryDisplayTopology(pc.platform().displayConfig, log), c.expected)
            << c.situation;
        EXPECT_EQ(pc.Err(), c.line) << c.situation;
    }
}

TEST(QueryDisplayTopology, NoActivePathIsUnknownWithoutAWord) {
    auto document = OneAdapter({Output(0, 0, 1920, 1080, nullptr)});
    document["adapters"][0]["outputs"][0]["active"] = false;
    DisplayTestMachine pc(document);
    DiagnosticLog log(pc.platform().console.Err(), pc.platform().clock);
    EXPECT_EQ(nimbo::QueryDisplayTopology(pc.platform().displayConfig, log),
              nimbo::DisplayTopology::Unknown);
    EXPECT_EQ(pc.Err(), "");
}

TEST(TopologyName, ValuesOutsideTheEnumerationAreUnknown) {
    EXPECT_STREQ(nimbo::TopologyName(nimbo::DisplayTopology::External), "external");
    EXPECT_STREQ(nimbo::TopologyName(static_cast<nimbo::DisplayTopology>(7)), "unknown");
    EXPECT_STREQ(nimbo::TopologyName(static_cast<nimbo::DisplayTopology>(-1)), "unknown");
}

}  // namespace
}  // namespace lenticor::testing
