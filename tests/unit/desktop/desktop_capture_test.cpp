// Capture, target enumeration, identity and SetDisplayConfig over the ports,
// with the failures Windows can produce between two calls.

#include <gtest/gtest.h>

#include <sstream>

#include "desktop/desktop_capture.h"
#include "desktop/desktop_command.h"
#include "desktop/desktop_port_fakes.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

// The message of the std::runtime_error `f` throws, or "" when it returns.
template <typename F>
std::string ThrownMessage(F&& f) {
    try {
        static_cast<void>(f());
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

std::vector<Monitor> PanelAndNimbo() {
    return {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)};
}

TEST(DesktopCapture, QueriesAllPathsAndRetriesOnceWhenTheDesktopChanges) {
    struct Case {
        std::deque<lenticor::Win32Error> queryResults;
        const char* message;
        std::size_t queries;
    };
    const Case cases[] = {
        {{}, "", 1},
        {{lenticor::kErrorInsufficientBuffer}, "", 2},
        {{lenticor::kErrorInsufficientBuffer, lenticor::kErrorInsufficientBuffer},
         "desktop changed during bounded enumeration",
         2},
        {{31}, "QueryDisplayConfig failed: 31", 1},
        {{lenticor::kErrorInsufficientBuffer, lenticor::kErrorInvalidParameter},
         "QueryDisplayConfig failed: 87",
         2},
    };
    for (const auto& c : cases) {
        FakeDesktopPorts ports(PanelAndNimbo());
        ports.queryResults = c.queryResults;
        EXPECT_EQ(ThrownMessage([&] { return CaptureDesktopTopology(ports); }), c.message);
        EXPECT_EQ(ports.queryFlags.size(), c.queries);
        EXPECT_EQ(ports.sizingFlags.size(), c.queries);
        for (const auto flags : ports.queryFlags)
            EXPECT_EQ(flags, lenticor::kQdcAllPaths);
        for (const auto flags : ports.sizingFlags)
            EXPECT_EQ(flags, lenticor::kQdcAllPaths);
    }
}

TEST(DesktopCapture, RefusesConfigurationsBeyondTheBounds) {
    struct Case {
        std::uint32_t paths;
        std::uint32_t modes;
        lenticor::Win32Error sizing;
        bool accepted;
    };
    const Case cases[] = {
        {512, 1024, 0, true},
        {513, 4, 0, false},
        {2, 1025, 0, false},
        {2, 4, lenticor::kErrorAccessDenied, false},
    };
    for (const auto& c : cases) {
        FakeDesktopPorts ports(PanelAndNimbo());
        ports.sizedPaths = c.paths;
        ports.sizedModes = c.modes;
        ports.sizingResult = c.sizing;
        const std::string message = ThrownMessage([&] { return CaptureDesktopTopology(ports); });
        EXPECT_EQ(message, c.accepted ? "" : "could not size bounded desktop configuration");
        EXPECT_EQ(ports.queryFlags.size(), c.accepted ? 1u : 0u);
    }
    // Buffers sized larger than needed are trimmed to what the query returned.
    FakeDesktopPorts ports(PanelAndNimbo());
    ports.sizedPaths = 512;
    ports.sizedModes = 1024;
    EXPECT_EQ(CaptureDesktopTopology(ports).snapshot, BuildTopology(PanelAndNimbo()).snapshot);
}

TEST(DesktopCapture, AnUnnamedPathIsSkippedWhenInactiveAndFatalWhenActive) {
    Monitor unnamed = OtherAt(3, 2, 3840);
    unnamed.named = false;
    unnamed.active = false;
    unnamed.available = false;
    FakeDesktopPorts inactive({OtherAt(1, 0, 0), unnamed});
    EXPECT_EQ(CaptureDesktopTopology(inactive).targets.size(), 1u);

    unnamed.active = true;
    unnamed.available = true;
    FakeDesktopPorts active({OtherAt(1, 0, 0), unnamed});
    EXPECT_EQ(ThrownMessage([&] { return CaptureDesktopTopology(active); }),
              "active desktop target identity unavailable");
}

TEST(DesktopCapture, ADetachedNimboStaysVisibleUnderTheKeyOfItsActivePath) {
    Monitor nimbo = NimboAt(2, 1, 1920);
    const std::string activeKey = KeyOf(nimbo);
    nimbo.active = false;
    FakeDesktopPorts ports({OtherAt(1, 0, 0), nimbo});
    const DesktopTopology topology = CaptureDesktopTopology(ports);
    ASSERT_EQ(topology.targets.size(), 2u);
    EXPECT_EQ(topology.targets[1].key, activeKey);
    EXPECT_FALSE(topology.targets[1].active);
    EXPECT_TRUE(topology.targets[1].available);
    EXPECT_EQ(DecodeSnapshot(topology.snapshot).paths.size(), 1u);  // only the active path is kept
}

TEST(DesktopTargets, ListsActiveNimbosByHardwareId) {
    Monitor second = NimboAt(3, 2, 5760);
    second.model = "KZV2B09";
    Monitor dark = NimboAt(4, 3, 0, 2160);
    dark.active = false;
    FakeDesktopPorts ports({OtherAt(1, 0, 0), NimboAt(2, 1, 1920), second, dark});
    const auto targets = EnumerateNimboTargets(ports, ports, CaptureDesktopTopology(ports));
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].displayId, DisplayIdOf(NimboAt(2, 1, 1920)));
    EXPECT_EQ(targets[0].targetKey, KeyOf(NimboAt(2, 1, 1920)));
    EXPECT_EQ(targets[1].targetKey, KeyOf(second));
}

TEST(DesktopTargets, EnumerationFailuresFailTheWholeCall) {
    FakeDesktopPorts unreadable(PanelAndNimbo());
    unreadable.unreadableMonitors = {1};
    const DesktopTopology topology = CaptureDesktopTopology(unreadable);
    EXPECT_EQ(
        ThrownMessage([&] { return EnumerateNimboTargets(unreadable, unreadable, topology); }),
        "active Nimbo desktop enumeration failed");

    FakeDesktopPorts unnamed(PanelAndNimbo());
    unnamed.interfaceNamesMissing = true;
    EXPECT_EQ(ThrownMessage([&] { return EnumerateNimboTargets(unnamed, unnamed, topology); }),
              "active Nimbo desktop enumeration failed");

    // Only a Nimbo's interface name is asked for: a missing one elsewhere is harmless.
    FakeDesktopPorts panelOnly({OtherAt(1, 0, 0)});
    panelOnly.interfaceNamesMissing = true;
    EXPECT_TRUE(
        EnumerateNimboTargets(panelOnly, panelOnly, CaptureDesktopTopology(panelOnly)).empty());
}

TEST(DesktopTargets, KeyLookupNeedsExactlyOneMatch) {
    const Monitor nimbo = NimboAt(2, 1, 1920);
    FakeDesktopPorts ports(PanelAndNimbo());
    std::wstring lower = DisplayIdOf(nimbo);
    for (auto& c : lower)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    EXPECT_EQ(TargetKeyForDisplayId(ports, ports, ports, lower), KeyOf(nimbo));
    EXPECT_EQ(TargetKeyForDisplayId(ports, ports, ports, L"MONITOR\\KZV1A07\\other"), "");

    // Two Nimbos reporting the same hardware id: no key rather than a guess.
    FakeDesktopPorts twins({OtherAt(1, 0, 0), nimbo, NimboAt(3, 2, 5760)});
    EXPECT_EQ(TargetKeyForDisplayId(twins, twins, twins, DisplayIdOf(nimbo)), "");
}

TEST(DesktopIdentity, TheDeviceTreeMustConfirmEveryLink) {
    const Monitor nimbo = NimboAt(2, 1, 1920);
    using Raw = FakeDesktopPorts::RawProperty;
    const std::wstring instance = L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID2";
    auto odd = Utf16Bytes(instance);
    odd.push_back(0);
    auto unterminated = Utf16Bytes(instance);
    unterminated[unterminated.size() - 2] = 'x';
    struct Case {
        const char* name;
        std::function<void(FakeDesktopPorts&)> change;
        std::wstring displayId;
        std::string key;
        bool verified;
    };
    const std::wstring id = DisplayIdOf(nimbo);
    const std::string key = KeyOf(nimbo);
    const Case cases[] = {
        {"intact", {}, id, key, true},
        {"lower-case display id",
         {},
         L"monitor\\kzv1a07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001",
         key,
         true},
        {"driver key differs", [](FakeDesktopPorts& p) { p.monitors[1].identityBroken = true; }, id,
         key, false},
        {"hardware id tail differs", {}, id.substr(0, id.size() - 1) + L"2", key, false},
        {"key without separator", {}, id, key.substr(0, key.find('|')), false},
        {"key of another monitor", {}, id, KeyOf(OtherAt(1, 0, 0)), false},
        {"not a Nimbo", {}, DisplayIdOf(OtherAt(1, 0, 0)), KeyOf(OtherAt(1, 0, 0)), false},
        {"interface property missing",
         [](FakeDesktopPorts& p) {
             p.instanceIdOverride = Raw{lenticor::kCrCallNotImplemented, 0x12, {}};
         },
         id, key, false},
        {"instance id not a string",
         [&](FakeDesktopPorts& p) {
             p.instanceIdOverride = Raw{0, 0x10, Utf16Bytes(instance)};
         },
         id, key, false},
        {"instance id of odd size",
         [&](FakeDesktopPorts& p) {
             p.instanceIdOverride = Raw{0, 0x12, odd};
         },
         id, key, false},
        {"instance id without its NUL",
         [&](FakeDesktopPorts& p) {
             p.instanceIdOverride = Raw{0, 0x12, unterminated};
         },
         id, key, false},
        {"instance id empty buffer",
         [&](FakeDesktopPorts& p) {
             p.instanceIdOverride = Raw{0, 0x12, {}};
         },
         id, key, false},
        {"instance id as stored",
         [&](FakeDesktopPorts& p) {
             p.instanceIdOverride = Raw{0, 0x12, Utf16Bytes(instance)};
         },
         id, key, true},
        {"instance id of another interface",
         [&](FakeDesktopPorts& p) {
             p.instanceIdOverride =
                 Raw{0, 0x12, Utf16Bytes(L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID9")};
         },
         id, key, false},
        {"device node not found",
         [](FakeDesktopPorts& p) { p.locateResult = lenticor::kCrNoSuchDevnode; }, id, key, false},
    };
    for (const auto& c : cases) {
        FakeDesktopPorts ports(PanelAndNimbo());
        if (c.change)
            c.change(ports);
        EXPECT_EQ(VerifyTargetIdentity(ports, c.displayId, c.key), c.verified) << c.name;
    }
}

TEST(DesktopIdentity, PropertiesLongerThanTheBufferAreRefused) {
    // 199 characters and the NUL fill the 400-byte buffer exactly; one more does not fit.
    const std::wstring prefix = L"DISPLAY\\KZV1A07\\";
    for (const std::size_t length : {std::size_t{199}, std::size_t{200}}) {
        FakeDesktopPorts ports(PanelAndNimbo());
        ports.instanceIdOverride = FakeDesktopPorts::RawProperty{
            0, 0x12, Utf16Bytes(prefix + std::wstring(length - prefix.size(), L'x'))};
        // Neither matches the interface; what matters is that neither overruns.
        EXPECT_FALSE(VerifyTargetIdentity(ports, DisplayIdOf(NimboAt(2, 1, 1920)),
                                          KeyOf(NimboAt(2, 1, 1920))));
    }
}

TEST(DesktopApply, HandsTheSnapshotToWindowsWithExactFlags) {
    FakeDesktopPorts ports(PanelAndNimbo());
    const DesktopTopology topology = BuildTopology(PanelAndNimbo());
    std::ostringstream err;
    EXPECT_TRUE(ApplyDesktopTopology(ports, err, topology, true));
    EXPECT_TRUE(ApplyDesktopTopology(ports, err, topology, false));
    ASSERT_EQ(ports.setCalls.size(), 2u);
    EXPECT_EQ(ports.setCalls[0].flags, 0x60u);
    EXPECT_EQ(ports.setCalls[1].flags, 0xA0u);
    const DesktopSnapshot expected = BuildSnapshot(PanelAndNimbo());
    ASSERT_EQ(ports.setCalls[1].paths.size(), expected.paths.size());
    EXPECT_EQ(std::memcmp(ports.setCalls[1].paths.data(), expected.paths.data(),
                          expected.paths.size() * sizeof(expected.paths[0])),
              0);
    EXPECT_EQ(ports.setCalls[1].modes.size(), expected.modes.size());
    EXPECT_EQ(err.str(), "");

    ports.setResult = 87;
    EXPECT_FALSE(ApplyDesktopTopology(ports, err, topology, false));
    EXPECT_EQ(err.str(), "[NimboDesktop] SetDisplayConfig failed: 87\n");

    // Nothing to hand over: no call at all.
    EXPECT_FALSE(ApplyDesktopTopology(ports, err, DesktopTopology{}, true));
    EXPECT_EQ(ports.setCalls.size(), 3u);
}

TEST(DesktopDarken, IssuesThePowerOffThroughAThrowawayWindow) {
    struct Case {
        lenticor::Win32Error registerResult;
        lenticor::Win32Error createResult;
        bool issued;
        std::vector<std::string> calls;
        const char* err;
    };
    const std::string cls = "KorvoNimboDesktopDarken";
    const std::vector<std::string> all = {"register " + cls, "create " + cls, "send 77 274 61808 2",
                                          "destroy 77", "unregister " + cls};
    const Case cases[] = {
        {0, 0, true, all, ""},
        {1410, 0, true, all, ""},
        {8, 0, false, {"register " + cls}, "[NimboDesktop] darken window class failed: 8\n"},
        {0,
         1400,
         false,
         {"register " + cls, "create " + cls},
         "[NimboDesktop] darken window failed: 1400\n"},
    };
    for (const auto& c : cases) {
        FakeWindows windows;
        windows.registerResult = c.registerResult;
        windows.createResult = c.createResult;
        std::ostringstream err;
        EXPECT_EQ(DarkenDisplays(windows, err), c.issued);
        EXPECT_EQ(windows.calls, c.calls);
        EXPECT_EQ(err.str(), c.err);
    }
}

}  // namespace
}  // namespace nimbo::test
