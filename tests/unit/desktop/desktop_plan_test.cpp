// The removal plan and the layout rules that keep a detach from leaving a
// broken desktop.

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <iostream>

#include "desktop/desktop_builders.h"
#include "desktop/desktop_journal.h"
#include "desktop/detach_plan.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

struct Placement {
    std::uint32_t targetId;
    std::int32_t x, y;
};

// Where each planned display's source sits, by target id.
std::vector<Placement> PlacementsOf(const DesktopTopology& plan) {
    std::vector<Placement> out;
    const DesktopSnapshot s = DecodeSnapshot(plan.snapshot);
    for (const auto& path : s.paths) {
        const auto& position = s.modes[path.sourceInfo.modeInfoIdx].sourceMode.position;
        out.push_back({path.targetInfo.id, position.x, position.y});
    }
    return out;
}

bool operator==(const Placement& a, const Placement& b) {
    return a.targetId == b.targetId && a.x == b.x && a.y == b.y;
}

TEST(DetachPlan, RemovingThePrimaryMovesTheLargestSurvivorToTheOrigin) {
    Monitor big = OtherAt(3, 2, 3840, 1080);
    big.width = 2560;
    big.height = 1440;
    const std::vector<Monitor> desk{NimboAt(1, 0, 0), OtherAt(2, 1, 3840, 0), big};
    const DesktopTopology plan = PlanDetach(BuildTopology(desk), KeyOf(desk[0]));
    ASSERT_FALSE(plan.targets.empty());
    EXPECT_EQ(PlacementsOf(plan), (std::vector<Placement>{{2, 0, -1080}, {3, 0, 0}}));
    EXPECT_FALSE(IsActive(plan, KeyOf(desk[0])));
}

TEST(DetachPlan, SharedSurvivorSourceShiftsOnce) {
    // Two survivors on one source (a clone of one source): its mode moves once.
    Monitor twin = OtherAt(3, 1, 3840);
    twin.instance = "twin";
    const std::vector<Monitor> desk{NimboAt(1, 0, 0), OtherAt(2, 1, 3840), twin};
    const DesktopTopology plan = PlanTargetRemoval(BuildTopology(desk), KeyOf(desk[0]));
    EXPECT_EQ(PlacementsOf(plan), (std::vector<Placement>{{2, 0, 0}, {3, 0, 0}}));
}

TEST(DetachPlan, RemovingASecondaryKeepsPositions) {
    const std::vector<Monitor> desk{OtherAt(1, 0, 0), NimboAt(2, 1, 1920)};
    const DesktopTopology plan = PlanDetach(BuildTopology(desk), KeyOf(desk[1]));
    EXPECT_EQ(PlacementsOf(plan), (std::vector<Placement>{{1, 0, 0}}));
}

TEST(DetachPlan, NoPlanForUnsafeLayouts) {
    Monitor cloneOnOtherAdapter = OtherAt(1, 0, 0);
    cloneOnOtherAdapter.adapter = 0x2000;
    cloneOnOtherAdapter.width = 3840;
    cloneOnOtherAdapter.height = 2160;
    Monitor virtualNimbo = NimboAt(2, 1, 1920);
    virtualNimbo.virtualMode = true;
    Monitor overlapping = OtherAt(1, 0, 0);
    overlapping.width = 2500;
    struct Case {
        const char* name;
        std::vector<Monitor> desk;
        std::size_t target;
    };
    const Case cases[] = {
        {"shared source", {OtherAt(1, 0, 0), NimboAt(2, 0, 0)}, 1},
        {"clone target", {cloneOnOtherAdapter, NimboAt(2, 0, 0)}, 1},
        {"virtual-mode path", {OtherAt(1, 0, 0), virtualNimbo}, 1},
        {"corner-only contact", {OtherAt(1, 0, 0), NimboAt(2, 1, 1920, 1080)}, 1},
        {"middle of three", {OtherAt(1, 0, 0), NimboAt(2, 1, 1920), OtherAt(3, 2, 5760)}, 1},
        {"overlapping regions", {overlapping, NimboAt(2, 1, 1920)}, 1},
        {"single path", {NimboAt(2, 0, 0)}, 0},
        {"unknown key", {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)}, 99},
    };
    for (const auto& c : cases) {
        const std::string key = c.target < c.desk.size() ? KeyOf(c.desk[c.target]) : "nope|0:0:0";
        const DesktopTopology plan = PlanDetach(BuildTopology(c.desk), key);
        EXPECT_TRUE(plan.targets.empty() && plan.snapshot.empty()) << c.name;
    }
}

TEST(DetachPlan, LayoutRules) {
    Monitor zeroWidth = OtherAt(1, 0, 0);
    zeroWidth.width = 0;
    Monitor sameRectOtherSource = OtherAt(2, 1, 0);
    struct Case {
        const char* name;
        std::vector<Monitor> desk;
        bool supported;
    };
    const Case cases[] = {
        {"side by side", {OtherAt(1, 0, 0), OtherAt(2, 1, 1920)}, true},
        {"stacked", {OtherAt(1, 0, 0), OtherAt(2, 1, 0, 1080)}, true},
        {"partial edge", {OtherAt(1, 0, 0), OtherAt(2, 1, 1920, 1079)}, true},
        {"gap", {OtherAt(1, 0, 0), OtherAt(2, 1, 1921)}, false},
        {"zero width", {zeroWidth}, false},
        {"same rectangle, same adapter, other source",
         {OtherAt(1, 0, 0), sameRectOtherSource},
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSupportedLayout(BuildSnapshot(c.desk)), c.supported) << c.name;
    }
    DesktopSnapshot wrongMode = BuildSnapshot({OtherAt(1, 0, 0)});
    wrongMode.paths[0].sourceInfo.modeInfoIdx = 1;  // the target mode
    EXPECT_FALSE(IsSupportedLayout(wrongMode));
}

TEST(DetachPlan, PrimaryShiftOutsideThe32BitRangeHasNoPlan) {
    Monitor far = OtherAt(2, 1, INT_MIN);
    Monitor largest = OtherAt(3, 2, 100);
    largest.width = 4000;
    const std::vector<Monitor> desk{NimboAt(1, 0, 0), far, largest};
    EXPECT_TRUE(PlanTargetRemoval(BuildTopology(desk), KeyOf(desk[0])).targets.empty());
}

TEST(DetachPlan, SameSurvivorsIgnoresPlacementOnly) {
    const DesktopTopology base = BuildTopology({OtherAt(1, 0, 0), OtherAt(2, 1, 1920)});
    auto with = [](auto change) {
        std::vector<Monitor> desk{OtherAt(1, 0, 0), OtherAt(2, 1, 1920)};
        change(desk);
        return BuildTopology(desk);
    };
    EXPECT_TRUE(SameSurvivors(base, with([](auto& d) {
                                  d[1].x = -1920;
                                  d[1].y = 300;
                              })));
    EXPECT_FALSE(SameSurvivors(base, with([](auto& d) { d[1].refresh = 144; })));
    EXPECT_FALSE(SameSurvivors(base, with([](auto& d) { d[1].width = 1280; })));
    EXPECT_FALSE(SameSurvivors(base, with([](auto& d) { d[1].instance = "swapped"; })));
    EXPECT_FALSE(SameSurvivors(base, with([](auto& d) { d.pop_back(); })));
    const DesktopTopology unavailable = with([](auto& d) { d[1].available = false; });
    EXPECT_FALSE(SameSurvivors(unavailable, unavailable));
    EXPECT_FALSE(SameSurvivors(DesktopTopology{}, DesktopTopology{}));
}

// Not a timed test: prints how long the largest journal takes to plan and parse.
TEST(DetachPlan, MaximumSnapshotBenchmark) {
    std::vector<Monitor> row;
    for (std::uint32_t i = 0; i < kMaxSnapshotPaths; ++i) {
        Monitor m = i == 0 ? NimboAt(i, i, 0)
                           : OtherAt(i, i, static_cast<std::int32_t>(3840 + (i - 1) * 1920));
        row.push_back(m);
    }
    const DesktopTopology before = BuildTopology(row);
    const auto start = std::chrono::steady_clock::now();
    const DesktopTopology plan = PlanDetach(before, KeyOf(row[0]));
    const auto planned = std::chrono::steady_clock::now();
    ASSERT_EQ(plan.targets.size(), kMaxSnapshotPaths - 1);
    const std::string text =
        SerializeJournal({DisplayIdOf(row[0]), KeyOf(row[0]), before, plan, std::nullopt});
    const auto parseStart = std::chrono::steady_clock::now();
    const DesktopJournal parsed = ParseJournal(text);
    const auto parsedAt = std::chrono::steady_clock::now();
    EXPECT_EQ(parsed.after.snapshot, plan.snapshot);
    using ms = std::chrono::duration<double, std::milli>;
    std::cout << "[ benchmark ] 512-path PlanDetach " << ms(planned - start).count()
              << " ms, ParseJournal " << ms(parsedAt - parseStart).count() << " ms\n";
}

}  // namespace
}  // namespace nimbo::test
