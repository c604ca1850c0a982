// Snapshot text and journal document: exact round trips and every rejection.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "app/text.h"
#include "desktop/desktop_builders.h"
#include "desktop/desktop_journal.h"
#include "desktop/detach_plan.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

using nlohmann::json;

// The message of whatever `action` throws, or "" when it does not throw.
std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

std::vector<Monitor> Office() {
    return {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)};
}

json SnapshotDoc(const std::vector<Monitor>& monitors) {
    return json::parse(SnapshotTextOf(monitors));
}

TEST(SnapshotCodec, RoundTripKeepsEveryByte) {
    DesktopSnapshot snapshot = BuildSnapshot(Office());
    // Bytes the signature ignores must survive storage anyway.
    snapshot.modes[1].targetMode.targetVideoSignalInfo.videoStandard |= 0xFFC00000u;
    auto image = snapshot.modes[0];
    image.infoType = dcfg::kModeInfoTypeDesktopImage;
    image.desktopImageInfo = {{3840, 2160}, {0, 0, 3840, 2160}, {1, 2, 3, 4}};
    snapshot.modes.push_back(image);
    snapshot.names[1] = L"\\\\?\\DISPLAY#KZV1A07#\u00e9\U0001F600#{x}";

    const DesktopSnapshot decoded = DecodeSnapshot(EncodeSnapshot(snapshot));
    ASSERT_EQ(decoded.paths.size(), snapshot.paths.size());
    ASSERT_EQ(decoded.modes.size(), snapshot.modes.size());
    for (std::size_t i = 0; i < snapshot.paths.size(); ++i) {
        EXPECT_EQ(0, std::memcmp(&decoded.paths[i], &snapshot.paths[i], sizeof(snapshot.paths[i])));
    }
    for (std::size_t i = 0; i < snapshot.modes.size(); ++i) {
        EXPECT_EQ(0, std::memcmp(&decoded.modes[i], &snapshot.modes[i], sizeof(snapshot.modes[i])));
    }
    EXPECT_EQ(decoded.names, snapshot.names);
}

TEST(SnapshotCodec, WritesCompactSortedLowerHex) {
    const std::string text = SnapshotTextOf({OtherAt(1, 0, 0)});
    EXPECT_EQ(text.rfind("{\"modes\":[\"", 0), 0u);
    EXPECT_NE(text.find("\"paths\":[{\"name\":\"\\\\\\\\?\\\\DISPLAY#"), std::string::npos);
    EXPECT_EQ(text.find(' '), std::string::npos);
    const json doc = json::parse(text);
    EXPECT_EQ(doc["paths"][0]["raw"].get<std::string>().size(), 144u);
    EXPECT_EQ(doc["modes"][0].get<std::string>().size(), 128u);
}

TEST(SnapshotCodec, EveryRejection) {
    const std::string upperRaw = [] {
        std::string raw = SnapshotDoc(Office())["paths"][0]["raw"];
        raw[0] = 'A';
        return raw;
    }();
    struct Case {
        const char* name;
        std::function<void(json&)> mutate;
        const char* message;
    };
    const Case cases[] = {
        {"513 paths",
         [](json& d) {
             d["paths"] = json::array();
             for (int i = 0; i < 513; ++i)
                 d["paths"].push_back(1);
         },
         "desktop snapshot count invalid"},
        {"1025 modes", [](json& d) { d["modes"] = json(std::vector<int>(1025, 1)); },
         "desktop snapshot count invalid"},
        {"paths not array", [](json& d) { d["paths"] = json::object(); },
         "desktop snapshot count invalid"},
        {"short raw", [](json& d) { d["paths"][0]["raw"] = std::string(142, '0'); },
         "invalid desktop snapshot structure size"},
        {"long mode", [](json& d) { d["modes"][0] = std::string(130, '0'); },
         "invalid desktop snapshot structure size"},
        {"upper-case raw", [&](json& d) { d["paths"][0]["raw"] = upperRaw; },
         "invalid desktop snapshot encoding"},
        {"upper-case mode", [](json& d) { d["modes"][0] = std::string(127, '0') + "F"; },
         "invalid desktop snapshot encoding"},
        {"non-hex mode", [](json& d) { d["modes"][0] = std::string(127, '0') + "g"; },
         "invalid desktop snapshot encoding"},
        {"empty name", [](json& d) { d["paths"][0]["name"] = ""; },
         "desktop snapshot target name invalid"},
        {"1025-unit name", [](json& d) { d["paths"][0]["name"] = std::string(1025, 'a'); },
         "desktop snapshot target name invalid"},
        {"1026 units of astral characters",
         [](json& d) {
             std::string s;
             for (int i = 0; i < 513; ++i)
                 s += "\xF0\x9F\x98\x80";
             d["paths"][0]["name"] = s;
         },
         "desktop snapshot target name invalid"},
        {"invalid UTF-8 name", [](json& d) { d["paths"][0]["name"] = "\xC3\x28"; },
         "invalid UTF-8 in desktop journal"},
        {"raw not a string", [](json& d) { d["paths"][0]["raw"] = 7; },
         "type must be string, but is number"},
    };
    for (const auto& c : cases) {
        json doc = SnapshotDoc(Office());
        c.mutate(doc);
        const std::string error = ErrorOf([&] { (void)DecodeSnapshotJson(doc); });
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    }
}

TEST(SnapshotCodec, RejectsPathsItCannotRestore) {
    auto withMode = [](std::function<void(DesktopSnapshot&)> change) {
        DesktopSnapshot s = BuildSnapshot(Office());
        change(s);
        return ErrorOf([&] { (void)DecodeSnapshot(EncodeSnapshot(s)); });
    };
    EXPECT_EQ(withMode([](auto& s) { s.paths[0].flags = 0; }), "unsupported saved desktop path");
    EXPECT_EQ(withMode([](auto& s) { s.paths[1].flags |= dcfg::kPathSupportVirtualModeFlag; }),
              "unsupported saved desktop path");
    EXPECT_EQ(withMode([](auto& s) { s.paths[1].targetInfo.modeInfoIdx = 4; }),
              "desktop snapshot mode index out of bounds");
    EXPECT_EQ(withMode([](auto& s) { s.modes[0].infoType = 4; }), "unsupported desktop mode type");
    EXPECT_EQ(
        withMode([](auto& s) { s.paths[1].targetInfo.modeInfoIdx = dcfg::kInvalidModeIndex; }), "");
}

TEST(SnapshotCodec, SizeAndCountLimitsAreInclusive) {
    const std::string text = SnapshotTextOf(Office());
    EXPECT_EQ(ErrorOf([&] {
                  (void)DecodeSnapshot(text + std::string(kMaxSnapshotBytes - text.size(), ' '));
              }),
              "");
    EXPECT_EQ(
        ErrorOf([&] {
            (void)DecodeSnapshot(text + std::string(kMaxSnapshotBytes + 1 - text.size(), ' '));
        }),
        "desktop snapshot too large");
    json doc = SnapshotDoc(Office());
    doc["paths"][0]["name"] = std::string(1024, 'a');
    EXPECT_EQ(ErrorOf([&] { (void)DecodeSnapshotJson(doc); }), "");
    EXPECT_FALSE(ErrorOf([] { (void)DecodeSnapshot("{\"paths\":[]}"); }).empty());  // library error
}

// --- journal ---

struct JournalFixture {
    std::vector<Monitor> office = Office();
    Monitor nimbo = office[1];
    DesktopJournal journal = [this] {
        const DesktopTopology before = BuildTopology(office);
        return DesktopJournal{DisplayIdOf(nimbo), KeyOf(nimbo), before,
                              PlanTargetRemoval(before, KeyOf(nimbo)), std::nullopt};
    }();
    json Doc() const { return json::parse(SerializeJournal(journal)); }
};

TEST(DesktopJournalFormat, RoundTripAndLayout) {
    JournalFixture f;
    f.journal.observedAfter = BuildTopology({OtherAt(1, 0, 0, 0)});
    const std::string text = SerializeJournal(f.journal);
    EXPECT_EQ(text.rfind("{\"after\":\"{", 0), 0u);
    EXPECT_NE(text.find("\"version\":1}"), std::string::npos);
    const DesktopJournal parsed = ParseJournal(text);
    EXPECT_EQ(parsed.displayId, f.journal.displayId);
    EXPECT_EQ(parsed.targetKey, f.journal.targetKey);
    EXPECT_EQ(parsed.before.snapshot, f.journal.before.snapshot);
    EXPECT_EQ(parsed.after.snapshot, f.journal.after.snapshot);
    ASSERT_TRUE(parsed.observedAfter.has_value());
    EXPECT_EQ(SerializeJournal(parsed), text);
    EXPECT_EQ(json::parse(SerializeJournal(JournalFixture().journal)).count("observedAfter"), 0u);
}

TEST(DesktopJournalFormat, EveryRejection) {
    JournalFixture f;
    const Monitor other = f.office[0];
    auto snapshotWith = [&](std::function<void(std::vector<Monitor>&)> change) {
        auto monitors = f.office;
        change(monitors);
        return SnapshotTextOf(monitors);
    };
    struct Case {
        const char* name;
        std::function<void(json&)> mutate;
        const char* message;  // "" = accepted
    };
    const Case cases[] = {
        {"valid", [](json&) {}, ""},
        {"version 1.0", [](json& d) { d["version"] = 1.0; }, ""},
        {"unknown member", [](json& d) { d["comment"] = 5; }, ""},
        {"version 2", [](json& d) { d["version"] = 2; }, "desktop journal version unsupported"},
        {"version \"1\"", [](json& d) { d["version"] = "1"; },
         "desktop journal version unsupported"},
        {"displayId number", [](json& d) { d["displayId"] = 3; },
         "type must be string, but is number"},
        {"targetKey null", [](json& d) { d["targetKey"] = nullptr; },
         "type must be string, but is null"},
        {"before object", [](json& d) { d["before"] = json::object(); },
         "type must be string, but is object"},
        {"observedAfter array", [](json& d) { d["observedAfter"] = json::array(); },
         "type must be string, but is array"},
        {"invalid UTF-8 displayId", [](json& d) { d["displayId"] = "MONITOR\\KZV1A07\\\xFF"; },
         "invalid UTF-8 in desktop journal"},
        {"not a Nimbo", [&](json& d) { d["displayId"] = lenticor::WideToUtf8(DisplayIdOf(other)); },
         "journal target is not a Nimbo"},
        {"key of another manufacturer", [&](json& d) { d["targetKey"] = KeyOf(other); },
         "journal interface is not the declared Nimbo manufacturer"},
        {"after equals before", [&](json& d) { d["after"] = d["before"]; },
         "desktop journal is not a valid single-target removal"},
        {"after removes the other display",
         [&](json& d) { d["after"] = snapshotWith([](auto& m) { m.erase(m.begin()); }); },
         "desktop journal is not a valid single-target removal"},
        {"after moves the survivor",
         [&](json& d) { d["after"] = SnapshotTextOf({OtherAt(1, 0, 0, 1080)}); },
         "desktop journal is not a valid single-target removal"},
        {"observed only moves the survivor",
         [&](json& d) { d["observedAfter"] = SnapshotTextOf({OtherAt(1, 0, 0, 1080)}); }, ""},
        {"observed changes a mode",
         [&](json& d) {
             auto m = OtherAt(1, 0, 0);
             m.refresh = 75;
             d["observedAfter"] = SnapshotTextOf({m});
         },
         "observed desktop recovery changes survivor identities or modes"},
        {"observed changes an identity",
         [&](json& d) {
             auto m = OtherAt(1, 0, 0);
             m.instance = "other";
             d["observedAfter"] = SnapshotTextOf({m});
         },
         "observed desktop recovery changes survivor identities or modes"},
        {"observed keeps the Nimbo", [&](json& d) { d["observedAfter"] = d["before"]; },
         "observed desktop recovery changes survivor identities or modes"},
    };
    for (const auto& c : cases) {
        json doc = f.Doc();
        c.mutate(doc);
        const std::string error = ErrorOf([&] { (void)ParseJournalJson(doc); });
        if (*c.message == '\0') {
            EXPECT_EQ(error, "") << c.name;
        } else {
            EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        }
    }
    EXPECT_FALSE(ErrorOf([] { (void)ParseJournal("[1]"); }).empty());
    EXPECT_FALSE(ErrorOf([] { (void)ParseJournal("{\"version\":1"); }).empty());
}

}  // namespace
}  // namespace nimbo::test
