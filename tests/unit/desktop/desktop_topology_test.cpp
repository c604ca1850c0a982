// Path keys, signatures and the per-target state derived from a topology.

#include <gtest/gtest.h>

#include <functional>

#include "desktop/desktop_builders.h"
#include "desktop/desktop_topology.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

TEST(DesktopTopology, PathKeyFoldsTheNameAndSpellsTheAdapter) {
    Monitor m = NimboAt(7, 0, 0);
    m.adapter = 0xFFFFFFF0u;
    m.adapterHigh = -2;
    EXPECT_EQ(KeyOf(m),
              "\\\\?\\display#kzv1a07#5&1a2b3c4d&0&uid7#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}"
              "|-2:4294967280:7");
    EXPECT_EQ(KeyInterfacePart("a#b|1:2:3"), "a#b");
}

TEST(DesktopTopology, SignatureChangesWithMeaningfulBytesOnly) {
    const DesktopSnapshot base = BuildSnapshot({OtherAt(1, 0, 0)});
    const std::string signature = PathSignature(base.paths[0], base.modes);
    EXPECT_EQ(signature.size(), 144u + 128u + 128u);
    struct Case {
        const char* name;
        std::function<void(DesktopSnapshot&)> change;
        bool meaningful;
        const char* error = "";
    };
    // clang-format off
    const Case cases[] = {
        {"source status", [](auto& s) { s.paths[0].sourceInfo.statusFlags = 9; }, false},
        {"target status", [](auto& s) { s.paths[0].targetInfo.statusFlags = 9; }, false},
        {"availability", [](auto& s) { s.paths[0].targetInfo.targetAvailable = 0; }, false},
        {"mode order", [](auto& s) { std::swap(s.modes[0], s.modes[1]); std::swap(s.paths[0].sourceInfo.modeInfoIdx, s.paths[0].targetInfo.modeInfoIdx); }, false},
        {"reserved video standard bits", [](auto& s) { s.modes[1].targetMode.targetVideoSignalInfo.videoStandard |= 0xFFC00000u; }, false},
        {"bytes beyond the source mode", [](auto& s) { s.modes[0].desktopImageInfo.DesktopImageClip = {1, 2, 3, 4}; }, false},
        {"position", [](auto& s) { s.modes[0].sourceMode.position.x = 5; }, true},
        {"refresh", [](auto& s) { s.modes[1].targetMode.targetVideoSignalInfo.vSyncFreq.Numerator = 75; }, true},
        {"vsync divider", [](auto& s) { s.modes[1].targetMode.targetVideoSignalInfo.videoStandard ^= 1u << 17; }, true},
        {"rotation", [](auto& s) { s.paths[0].targetInfo.rotation = 2; }, true},
        {"mode index out of bounds", [](auto& s) { s.paths[0].targetInfo.modeInfoIdx = 2; }, true, "desktop snapshot mode index out of bounds"},
        {"unknown mode type", [](auto& s) { s.modes[1].infoType = 0; }, true, "unsupported desktop mode type"},
    };
    // clang-format on
    for (const Case& c : cases) {
        DesktopSnapshot s = base;
        c.change(s);
        std::string changed;
        EXPECT_EQ(ErrorOf([&] { changed = PathSignature(s.paths[0], s.modes); }), c.error)
            << c.name;
        EXPECT_EQ(changed != signature, c.meaningful) << c.name;
    }
}

TEST(DesktopTopology, BuildKeepsUsableEntriesAndStoresOnlyActiveNamedPaths) {
    const Monitor active = OtherAt(1, 0, 0);
    const Monitor inactive = {.targetId = 2, .active = false};
    const Monitor anonymousAttached = {.targetId = 3, .active = false, .named = false};
    const Monitor anonymousDetached = {
        .targetId = 4, .active = false, .available = false, .named = false};
    const DesktopTopology t =
        BuildTopology({active, inactive, anonymousAttached, anonymousDetached});
    ASSERT_EQ(t.targets.size(), 3u);
    EXPECT_EQ(t.targets[0].key, KeyOf(active));
    EXPECT_FALSE(t.targets[0].signature.empty());
    EXPECT_EQ(t.targets[1].key, KeyOf(inactive));
    EXPECT_TRUE(t.targets[1].signature.empty());
    EXPECT_TRUE(t.targets[2].key.empty() && t.targets[2].available);  // blocks: identity unknown
    EXPECT_EQ(t.snapshot, BuildTopology({active}).snapshot);
}

TEST(DesktopTopology, EvaluateTargetStateTable) {
    struct Case {
        bool owned;
        std::vector<DesktopPathEntry> entries;
        const char *presence, *state;
        bool attached, detached;
    };
    const Case cases[] = {
        {false, {{"k", "s", true, true}}, "active", "on", true, false},
        {true, {{"k", "", false, true}, {"k", "", false, false}}, "inactive", "off", true, true},
        {false, {{"k", "", false, true}}, "inactive", "unknown", true, false},
        {true, {{"k", "", false, false}}, "absent", "unknown", false, true},
        {true, {{"other", "s", true, true}}, "absent", "unknown", false, true},
        {false, {}, "absent", "unknown", false, false},
        {true, {{"k", "", false, false}, {"k", "s", true, false}}, "active", "on", false, false},
    };
    for (const auto& c : cases) {
        DesktopResult r;
        r.owned = c.owned;
        EvaluateTargetState(r, {c.entries, ""}, "k");
        EXPECT_EQ(r.presence, c.presence);
        EXPECT_EQ(r.state, c.state);
        EXPECT_EQ(r.attached, c.attached);
        EXPECT_EQ(r.detached, c.detached);
    }
    const DesktopTopology t{{{"k", "", false, false},
                             {"k", "", false, true},
                             {"b", "2", true, true},
                             {"a", "1", true, false},
                             {"", "", true, true}},
                            ""};
    EXPECT_TRUE(IsInactiveOnly(t, "k"));
    EXPECT_FALSE(IsInactiveOnly(t, "a"));
    EXPECT_FALSE(IsInactiveOnly(t, "missing"));
    EXPECT_TRUE(IsActive(t, "a"));
    EXPECT_FALSE(IsActive(t, "k"));
    // Survivors: sorted, active and named only.
    EXPECT_EQ(SurvivorSignatures(t, ""), (std::vector<std::string>{"a|1", "b|2"}));
    EXPECT_EQ(SurvivorSignatures(t, "a"), (std::vector<std::string>{"b|2"}));
}

}  // namespace
}  // namespace nimbo::test
