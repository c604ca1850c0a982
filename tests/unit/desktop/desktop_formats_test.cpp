// Snapshot text and journal document: exact round trips and every rejection.

#include <gtest/gtest.h>

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
using Mutation = std::function<void(json&)>;

struct Case {
    const char* name;
    Mutation mutate;
    const char* message;  // "" = accepted
};

std::vector<Monitor> Desk() {
    return {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)};
}

// A document whose records were changed before encoding.
Mutation Records(std::function<void(DesktopSnapshot&)> change) {
    return [=](json& d) {
        DesktopSnapshot s = BuildSnapshot(Desk());
        change(s);
        d = json::parse(EncodeSnapshot(s));
    };
}

void ExpectCases(const json& valid, const std::function<void(const json&)>& decode,
                 const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        json doc = valid;
        c.mutate(doc);
        const std::string error = ErrorOf([&] { decode(doc); });
        if (*c.message == '\0') {
            EXPECT_EQ(error, "") << c.name;
        } else {
            EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        }
    }
}

TEST(SnapshotCodec, RoundTripKeepsEveryByte) {
    DesktopSnapshot snapshot = BuildSnapshot(Desk());
    // Bytes the signature ignores must survive storage anyway.
    snapshot.modes[1].targetMode.targetVideoSignalInfo.videoStandard |= 0xFFC00000u;
    auto image = snapshot.modes[0];
    image.infoType = dcfg::kModeInfoTypeDesktopImage;
    image.desktopImageInfo = {{3840, 2160}, {0, 0, 3840, 2160}, {1, 2, 3, 4}};
    snapshot.modes.push_back(image);
    snapshot.names[1] = L"\\\\?\\DISPLAY#KZV1A07#\u00e9\U0001F600#{x}";

    // The text is a hex dump of every record, which decoding must take back
    // at exactly its size, so equal texts mean equal records.
    const std::string text = EncodeSnapshot(snapshot);
    EXPECT_EQ(text.rfind("{\"modes\":[\"", 0), 0u);
    EXPECT_EQ(text.find(' '), std::string::npos);
    const DesktopSnapshot decoded = DecodeSnapshot(text);
    EXPECT_EQ(EncodeSnapshot(decoded), text);
    EXPECT_EQ(decoded.names, snapshot.names);
}

TEST(SnapshotCodec, EveryRejectionAndItsLimit) {
    std::string astral513;
    for (int i = 0; i < 513; ++i)
        astral513 += "\xF0\x9F\x98\x80";
    const json valid = json::parse(BuildTopology(Desk()).snapshot);
    const std::string raw = valid["paths"][0]["raw"];
    // clang-format off
    ExpectCases(valid, [](const json& d) { (void)DecodeSnapshotJson(d); }, {
        {"513 paths", [](json& d) { d["paths"] = json(std::vector<int>(513, 1)); }, "desktop snapshot count invalid"},
        {"1025 modes", [](json& d) { d["modes"] = json(std::vector<int>(1025, 1)); }, "desktop snapshot count invalid"},
        {"short raw", [](json& d) { d["paths"][0]["raw"] = std::string(142, '0'); }, "invalid desktop snapshot structure size"},
        {"upper-case raw", [&](json& d) { d["paths"][0]["raw"] = "A" + raw.substr(1); }, "invalid desktop snapshot encoding"},
        {"empty name", [](json& d) { d["paths"][0]["name"] = ""; }, "desktop snapshot target name invalid"},
        {"1024-unit name", [](json& d) { d["paths"][0]["name"] = std::string(1024, 'a'); }, ""},
        {"1025-unit name", [](json& d) { d["paths"][0]["name"] = std::string(1025, 'a'); }, "desktop snapshot target name invalid"},
        {"1026 units in 513 astral characters", [&](json& d) { d["paths"][0]["name"] = astral513; }, "desktop snapshot target name invalid"},
        {"invalid UTF-8 name", [](json& d) { d["paths"][0]["name"] = "\xC3\x28"; }, "invalid UTF-8 in desktop journal"},
        {"raw not a string", [](json& d) { d["paths"][0]["raw"] = 7; }, "type must be string, but is number"},
        {"inactive path", Records([](auto& s) { s.paths[0].flags = 0; }), "unsupported saved desktop path"},
        {"virtual-mode path", Records([](auto& s) { s.paths[1].flags |= dcfg::kPathSupportVirtualModeFlag; }), "unsupported saved desktop path"},
        {"mode index past the end", Records([](auto& s) { s.paths[1].targetInfo.modeInfoIdx = 4; }), "desktop snapshot mode index out of bounds"},
        {"unknown mode type", Records([](auto& s) { s.modes[0].infoType = 4; }), "unsupported desktop mode type"},
        {"no target mode", Records([](auto& s) { s.paths[1].targetInfo.modeInfoIdx = dcfg::kInvalidModeIndex; }), ""},
    });
    // clang-format on
    const std::string text = BuildTopology(Desk()).snapshot;
    const std::string fits = text + std::string(kMaxSnapshotBytes - text.size(), ' ');
    EXPECT_EQ(ErrorOf([&] { (void)DecodeSnapshot(fits); }), "");
    EXPECT_EQ(ErrorOf([&] { (void)DecodeSnapshot(fits + " "); }), "desktop snapshot too large");
}

DesktopJournal OfficeJournal() {
    const Monitor nimbo = Desk()[1];
    const DesktopTopology before = BuildTopology(Desk());
    return {DisplayIdOf(nimbo), KeyOf(nimbo), before, PlanTargetRemoval(before, KeyOf(nimbo)),
            std::nullopt};
}

TEST(DesktopJournalFormat, RoundTripKeepsEveryByte) {
    DesktopJournal journal = OfficeJournal();
    EXPECT_FALSE(json::parse(SerializeJournal(journal)).contains("observedAfter"));
    journal.observedAfter = BuildTopology({OtherAt(1, 0, 0, 1080)});
    const std::string text = SerializeJournal(journal);
    EXPECT_EQ(text.rfind("{\"after\":\"{", 0), 0u);
    const DesktopJournal parsed = ParseJournal(text);
    EXPECT_EQ(parsed.displayId, journal.displayId);
    EXPECT_EQ(parsed.targetKey, journal.targetKey);
    EXPECT_EQ(parsed.observedAfter->snapshot, journal.observedAfter->snapshot);
    EXPECT_EQ(SerializeJournal(parsed), text);
}

TEST(DesktopJournalFormat, AcceptsOnlyASingleNimboRemoval) {
    const Monitor other = Desk()[0];
    const auto Survivor = [&](auto Monitor::*field, auto value) {
        Monitor changed = other;
        changed.*field = value;
        return BuildTopology({changed}).snapshot;
    };
    const std::string moved = BuildTopology({OtherAt(1, 0, 0, 1080)}).snapshot;
    // clang-format off
    ExpectCases(json::parse(SerializeJournal(OfficeJournal())), [](const json& d) { (void)ParseJournalJson(d); }, {
        {"version 1.0", [](json& d) { d["version"] = 1.0; }, ""},
        {"unknown member", [](json& d) { d["comment"] = 5; }, ""},
        {"version 2", [](json& d) { d["version"] = 2; }, "desktop journal version unsupported"},
        {"version \"1\"", [](json& d) { d["version"] = "1"; }, "desktop journal version unsupported"},
        {"displayId number", [](json& d) { d["displayId"] = 3; }, "type must be string, but is number"},
        {"invalid UTF-8 displayId", [](json& d) { d["displayId"] = "MONITOR\\KZV1A07\\\xFF"; }, "invalid UTF-8 in desktop journal"},
        {"not a Nimbo", [&](json& d) { d["displayId"] = lenticor::WideToUtf8(DisplayIdOf(other)); }, "journal target is not a Nimbo"},
        {"key of another manufacturer", [&](json& d) { d["targetKey"] = KeyOf(other); }, "journal interface is not the declared Nimbo manufacturer"},
        {"after equals before", [](json& d) { d["after"] = d["before"]; }, "desktop journal is not a valid single-target removal"},
        {"after moves the survivor", [&](json& d) { d["after"] = moved; }, "desktop journal is not a valid single-target removal"},
        {"observed only moves the survivor", [&](json& d) { d["observedAfter"] = moved; }, ""},
        {"observed changes a mode", [&](json& d) { d["observedAfter"] = Survivor(&Monitor::refresh, 75u); }, "observed desktop recovery changes survivor identities or modes"},
        {"observed changes an identity", [&](json& d) { d["observedAfter"] = Survivor(&Monitor::instance, std::string("other")); }, "observed desktop recovery changes survivor identities or modes"},
        {"observed keeps the Nimbo", [](json& d) { d["observedAfter"] = d["before"]; }, "observed desktop recovery changes survivor identities or modes"},
    });
    // clang-format on
    EXPECT_NE(ErrorOf([] { (void)ParseJournal("{\"version\":1"); }), "");
}

}  // namespace
}  // namespace nimbo::test
