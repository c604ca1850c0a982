// The removal plan and the layout rules that keep a detach from leaving a
// broken desktop.

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "desktop/desktop_builders.h"
#include "desktop/desktop_journal.h"
#include "desktop/detach_plan.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

struct Placement {
    std::uint32_t targetId;
    std::int32_t x, y;
    bool operator==(const Placement&) const = default;
};

std::vector<Placement> PlacementsOf(const DesktopTopology& plan) {
    std::vector<Placement> out;
    const DesktopSnapshot s = DecodeSnapshot(plan.snapshot);
    for (const auto& path : s.paths) {
        const auto& position = s.modes[path.sourceInfo.modeInfoIdx].sourceMode.position;
        out.push_back({path.targetInfo.id, position.x, position.y});
    }
    return out;
}

Monitor Sized(Monitor m, std::uint32_t width, std::uint32_t height) {
    std::tie(m.width, m.height) = std::tie(width, height);
    return m;
}

TEST(DetachPlan, SurvivorsShiftSoTheNewPrimarySitsAtTheOrigin) {
    Monitor twin = OtherAt(3, 1, 3840);  // a clone on the first survivor's source
    twin.instance = "twin";
    struct Case {
        const char* name;
        std::vector<Monitor> desk;
        std::vector<Placement> placements;
    };
    // clang-format off
    const Case cases[] = {
        {"secondary removed: nothing moves", {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)}, {{1, 0, 0}}},
        {"primary removed: the largest survivor becomes primary", {NimboAt(2, 0, 0), OtherAt(1, 1, 3840, 0), Sized(OtherAt(3, 2, 3840, 1080), 2560, 1440)}, {{1, 0, -1080}, {3, 0, 0}}},
        {"primary removed: of two as large, the first becomes primary", {NimboAt(2, 0, 0), OtherAt(1, 1, 3840, 0), OtherAt(3, 2, 3840, 1080)}, {{1, 0, 0}, {3, 0, 1080}}},
        {"primary removed: a shared source shifts once", {NimboAt(2, 0, 0), OtherAt(1, 1, 3840), twin}, {{1, 0, 0}, {3, 0, 0}}},
        {"primary removed: the largest shift that still fits", {NimboAt(2, 0, 0), Sized(OtherAt(3, 2, -1), 4000, 1080), OtherAt(1, 1, INT_MAX - 1)}, {{3, 0, 0}, {1, INT_MAX, 0}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string key = KeyOf(c.desk[c.desk[0].model == kNimboModel ? 0 : 1]);
        const DesktopTopology plan = PlanTargetRemoval(BuildTopology(c.desk), key);
        EXPECT_EQ(PlacementsOf(plan), c.placements) << c.name;
        EXPECT_FALSE(IsActive(plan, key)) << c.name;
    }
}

TEST(DetachPlan, NoPlanForUnsafeLayouts) {
    Monitor cloneOnOtherAdapter = Sized(OtherAt(1, 0, 0), 3840, 2160);
    cloneOnOtherAdapter.adapter = 0x2000;
    Monitor virtualNimbo = NimboAt(2, 1, 1920);
    virtualNimbo.virtualMode = true;
    const std::pair<const char*, std::vector<Monitor>> cases[] = {
        {"shared source", {OtherAt(1, 0, 0), NimboAt(2, 0, 0)}},
        {"clone target", {cloneOnOtherAdapter, NimboAt(2, 0, 0)}},
        {"virtual-mode path", {OtherAt(1, 0, 0), virtualNimbo}},
        {"corner-only contact", {OtherAt(1, 0, 0), NimboAt(2, 1, 1920, 1080)}},
        {"overlapping regions", {Sized(OtherAt(1, 0, 0), 2500, 1080), NimboAt(2, 1, 1920)}},
        {"single path", {NimboAt(2, 0, 0)}},
        {"unknown key", {OtherAt(1, 0, 0), OtherAt(3, 2, 1920)}},
    };
    for (const auto& [name, desk] : cases) {
        std::string key = "nope|0:0:0";
        for (const Monitor& m : desk)
            key = m.model == kNimboModel ? KeyOf(m) : key;
        const DesktopTopology plan = PlanDetach(BuildTopology(desk), key);
        EXPECT_TRUE(plan.targets.empty() && plan.snapshot.empty()) << name;
    }
    // Even without the layout rules: a shift the 32-bit positions cannot hold.
    const std::vector<Monitor> far{NimboAt(2, 0, 0), OtherAt(1, 1, INT_MIN),
                                   Sized(OtherAt(3, 2, 100), 4000, 1080)};
    EXPECT_TRUE(PlanTargetRemoval(BuildTopology(far), KeyOf(far[0])).targets.empty());
}

TEST(DetachPlan, LayoutRules) {
    DesktopSnapshot wrongMode = BuildSnapshot({OtherAt(1, 0, 0)});
    wrongMode.paths[0].sourceInfo.modeInfoIdx = 1;  // the target mode
    struct Case {
        const char* name;
        DesktopSnapshot snapshot;
        bool supported;
    };
    // clang-format off
    const Case cases[] = {
        {"side by side", BuildSnapshot({OtherAt(1, 0, 0), OtherAt(2, 1, 1920)}), true},
        {"stacked", BuildSnapshot({OtherAt(1, 0, 0), OtherAt(2, 1, 0, 1080)}), true},
        {"partial edge", BuildSnapshot({OtherAt(1, 0, 0), OtherAt(2, 1, 1920, 1079)}), true},
        {"gap", BuildSnapshot({OtherAt(1, 0, 0), OtherAt(2, 1, 1921)}), false},
        {"zero width", BuildSnapshot({Sized(OtherAt(1, 0, 0), 0, 1080)}), false},
        {"same rectangle, other source", BuildSnapshot({OtherAt(1, 0, 0), OtherAt(2, 1, 0)}), false},
        {"source refers to a target mode", wrongMode, false},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(IsSupportedLayout(c.snapshot), c.supported) << c.name;
}

// Placement, mode and identity changes are covered by the journal's observed
// baseline cases; these are the edges only reachable directly.
TEST(DetachPlan, SameSurvivorsNeedsTheSameAvailableDisplays) {
    const DesktopTopology both = BuildTopology({OtherAt(1, 0, 0), OtherAt(2, 1, 1920)});
    Monitor gone = OtherAt(2, 1, 1920);
    gone.available = false;
    const DesktopTopology unavailable = BuildTopology({OtherAt(1, 0, 0), gone});
    Monitor virtualMode = OtherAt(2, 1, 1920);
    virtualMode.virtualMode = true;  // a capture, not a journal: an answer, not a throw
    EXPECT_FALSE(SameSurvivors(both, BuildTopology({OtherAt(1, 0, 0), virtualMode})));
    EXPECT_FALSE(SameSurvivors(both, BuildTopology({OtherAt(1, 0, 0)})));
    EXPECT_FALSE(SameSurvivors(unavailable, unavailable));
    EXPECT_FALSE(SameSurvivors(DesktopTopology{}, DesktopTopology{}));
}

TEST(DetachPlan, TheLargestDesktopPlansAndItsJournalParses) {
    std::vector<Monitor> row{NimboAt(0, 0, 0)};
    for (std::uint32_t i = 1; i < kMaxSnapshotPaths; ++i)
        row.push_back(OtherAt(i, i, static_cast<std::int32_t>(3840 + (i - 1) * 1920)));
    const DesktopTopology before = BuildTopology(row);
    const DesktopTopology plan = PlanDetach(before, KeyOf(row[0]));
    ASSERT_EQ(plan.targets.size(), kMaxSnapshotPaths - 1);
    const std::string text =
        SerializeJournal({DisplayIdOf(row[0]), KeyOf(row[0]), before, plan, std::nullopt});
    EXPECT_EQ(ParseJournal(text).after.snapshot, plan.snapshot);
}

}  // namespace
}  // namespace nimbo::test
