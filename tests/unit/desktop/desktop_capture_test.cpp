// Capture, target enumeration, identity and SetDisplayConfig over fake ports,
// with the failures Windows can produce between two calls.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <sstream>

#include "app/text.h"
#include "desktop/desktop_builders.h"
#include "desktop/desktop_capture.h"
#include "desktop/desktop_command.h"
#include "platform/config_manager.h"
#include "platform/display_config.h"
#include "platform/display_devices.h"
#include "platform/monitors.h"
#include "platform/window_system.h"

namespace nimbo::test {
namespace {

using lenticor::ConfigRet;
using lenticor::Win32Error;

std::vector<std::uint8_t> Utf16Bytes(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    for (const wchar_t c : std::wstring(text) + L'\0') {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring InstanceIdOf(const Monitor& m) {
    std::wstring path = InterfacePathOf(m);  // \\?\DISPLAY#model#instance#{class}
    path = path.substr(4, path.find(L"#{") - 4);
    std::replace(path.begin(), path.end(), L'#', L'\\');
    return path;
}

// Every active monitor is its own HMONITOR and GDI device, numbered from 1.
class FakePorts final : public lenticor::DisplayConfig,
                        public lenticor::Monitors,
                        public lenticor::DisplayDevices,
                        public lenticor::ConfigManager {
  public:
    struct RawProperty {
        ConfigRet result = lenticor::kCrSuccess;
        std::uint32_t type = lenticor::kDevPropTypeString;
        std::vector<std::uint8_t> bytes = {};
    };

    explicit FakePorts(std::vector<Monitor> machine) : monitors(std::move(machine)) {}

    std::vector<Monitor> monitors;
    std::deque<Win32Error> queryResults;  // answered before the real one
    std::optional<std::uint32_t> sizedPaths, sizedModes;
    Win32Error sizingResult = lenticor::kErrorSuccess;
    Win32Error setResult = lenticor::kErrorSuccess;
    std::optional<std::size_t> unreadableMonitor;
    bool interfaceNamesMissing = false;
    std::optional<RawProperty> instanceIdOverride;
    ConfigRet locateResult = lenticor::kCrSuccess;
    int queries = 0;
    std::vector<std::uint32_t> setFlags;
    std::vector<dcfg::DISPLAYCONFIG_PATH_INFO> setPaths;

    Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags, std::uint32_t& paths,
                                           std::uint32_t& modes) override {
        const DesktopSnapshot snapshot = BuildSnapshot(monitors);
        paths = sizedPaths.value_or(static_cast<std::uint32_t>(snapshot.paths.size()));
        modes = sizedModes.value_or(static_cast<std::uint32_t>(snapshot.modes.size()));
        // Only all paths show a detached Nimbo.
        return flags == lenticor::kQdcAllPaths ? sizingResult : lenticor::kErrorInvalidParameter;
    }
    Win32Error QueryDisplayConfig(std::uint32_t flags,
                                  std::vector<dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
                                  std::vector<dcfg::DISPLAYCONFIG_MODE_INFO>& modes,
                                  std::uint32_t*) override {
        ++queries;
        if (!queryResults.empty()) {
            const auto result = queryResults.front();
            queryResults.pop_front();
            return result;
        }
        const DesktopSnapshot snapshot = BuildSnapshot(monitors);
        if (flags != lenticor::kQdcAllPaths)
            return lenticor::kErrorInvalidParameter;
        if (snapshot.paths.size() > paths.size() || snapshot.modes.size() > modes.size())
            return lenticor::kErrorInsufficientBuffer;
        paths = snapshot.paths;
        modes = snapshot.modes;
        return lenticor::kErrorSuccess;
    }
    Win32Error GetTargetName(dcfg::LUID adapter, std::uint32_t target,
                             lenticor::DisplayConfigTargetName& name) override {
        for (const auto& m : monitors) {
            if (m.named && m.adapter == adapter.LowPart && m.targetId == target) {
                name.monitorDevicePath = InterfacePathOf(m);
                return lenticor::kErrorSuccess;
            }
        }
        return lenticor::kErrorInvalidParameter;
    }
    Win32Error GetSourceName(dcfg::LUID, std::uint32_t,
                             lenticor::DisplayConfigSourceName&) override {
        return lenticor::kErrorNotSupported;
    }
    Win32Error SetDisplayConfig(std::span<const dcfg::DISPLAYCONFIG_PATH_INFO> paths,
                                std::span<const dcfg::DISPLAYCONFIG_MODE_INFO>,
                                std::uint32_t flags) override {
        setFlags.push_back(flags);
        setPaths.assign(paths.begin(), paths.end());
        return setResult;
    }

    bool EnumDisplayMonitors(const std::function<bool(lenticor::MonitorHandle)>& visit) override {
        for (std::size_t i = 0; i < Active().size(); ++i) {
            if (!visit(i + 1))
                return false;
        }
        return true;
    }
    bool QueryMonitorInfo(lenticor::MonitorHandle monitor, lenticor::MonitorInfo& info) override {
        info.device = L"\\\\.\\DISPLAY" + std::to_wstring(monitor);
        return unreadableMonitor != monitor - 1;
    }
    std::optional<lenticor::DisplayDevice> EnumDisplayDevices(
        std::optional<std::wstring_view> device, std::uint32_t index,
        std::uint32_t flags) override {
        const auto active = Active();
        for (std::size_t i = 0; i < active.size(); ++i) {
            if (index != 0 || device != L"\\\\.\\DISPLAY" + std::to_wstring(i + 1))
                continue;
            lenticor::DisplayDevice found;
            found.stateFlags = lenticor::kDisplayDeviceActive | lenticor::kDisplayDeviceAttached;
            if ((flags & lenticor::kEddGetDeviceInterfaceName) == 0)
                found.deviceId = DisplayIdOf(active[i]);
            else if (!interfaceNamesMissing)
                found.deviceId = InterfacePathOf(active[i]);
            return found;
        }
        return std::nullopt;
    }
    std::optional<lenticor::DisplaySettings> EnumDisplaySettings(std::wstring_view,
                                                                 std::uint32_t) override {
        return std::nullopt;
    }

    ConfigRet GetDeviceInterfaceProperty(std::wstring_view path, lenticor::DeviceProperty,
                                         std::uint32_t& type, std::span<std::uint8_t> buffer,
                                         std::uint32_t& size) override {
        // Interface paths compare without regard to case, as the device tree does.
        std::optional<RawProperty> found = instanceIdOverride;
        for (const auto& m : monitors) {
            if (!found && lenticor::ToLowerWide(InterfacePathOf(m)) == lenticor::ToLowerWide(path))
                found = RawProperty{.bytes = Utf16Bytes(InstanceIdOf(m))};
        }
        if (!found)
            return lenticor::kCrNoSuchDeviceInterface;
        type = found->type;
        std::copy_n(found->bytes.begin(), std::min<std::size_t>(found->bytes.size(), size),
                    buffer.begin());
        size = static_cast<std::uint32_t>(found->bytes.size());
        return found->result;
    }
    ConfigRet LocateDevNode(lenticor::DevInst& devInst, std::wstring_view instanceId,
                            std::uint32_t) override {
        for (std::size_t i = 0; i < monitors.size() && locateResult == lenticor::kCrSuccess; ++i) {
            if (lenticor::ToLowerWide(InstanceIdOf(monitors[i])) ==
                lenticor::ToLowerWide(instanceId)) {
                devInst = static_cast<lenticor::DevInst>(i + 1);
                return lenticor::kCrSuccess;
            }
        }
        return locateResult == lenticor::kCrSuccess ? lenticor::kCrNoSuchDevnode : locateResult;
    }
    ConfigRet GetDevNodeProperty(lenticor::DevInst devInst, lenticor::DeviceProperty,
                                 std::uint32_t& type, std::span<std::uint8_t> buffer,
                                 std::uint32_t& size) override {
        const Monitor& m = monitors.at(devInst - 1);
        const auto bytes = Utf16Bytes(
            lenticor::Utf8ToWideStrict("{4d36e96e-e325-11ce-bfc1-08002be10318}\\" +
                                       (m.identityBroken ? std::string("9999") : m.driver))
                .value());
        type = lenticor::kDevPropTypeString;
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        size = static_cast<std::uint32_t>(bytes.size());
        return lenticor::kCrSuccess;
    }

  private:
    std::vector<Monitor> Active() const {
        std::vector<Monitor> active;
        std::copy_if(monitors.begin(), monitors.end(), std::back_inserter(active),
                     [](const Monitor& m) { return m.active; });
        return active;
    }
};

class FakeWindows final : public lenticor::WindowSystem {
  public:
    Win32Error registerResult = lenticor::kErrorSuccess;
    Win32Error createResult = lenticor::kErrorSuccess;
    std::vector<std::string> calls;

    Win32Error RegisterDefaultWindowClass(std::wstring_view) override {
        calls.push_back("register");
        return registerResult;
    }
    Win32Error CreateBareWindow(std::wstring_view, lenticor::WindowHandle& window) override {
        calls.push_back("create");
        window = 77;
        return createResult;
    }
    std::intptr_t SendWindowMessage(lenticor::WindowHandle, std::uint32_t, std::uintptr_t,
                                    std::intptr_t) override {
        calls.push_back("send");
        return 0;
    }
    bool DestroyWindow(lenticor::WindowHandle window) override {
        calls.push_back("destroy " + std::to_string(window));
        return true;
    }
    bool UnregisterWindowClass(std::wstring_view) override {
        calls.push_back("unregister");
        return true;
    }
};

template <typename F>
std::string ThrownMessage(F&& f) {
    try {
        static_cast<void>(f());
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

const std::vector<Monitor> kPanelAndNimbo = {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)};
const std::wstring kNimboId = DisplayIdOf(kPanelAndNimbo[1]);
const std::string kNimboKey = KeyOf(kPanelAndNimbo[1]);

TEST(DesktopCapture, BoundedQueryRetriesOnceWhenTheDesktopChanges) {
    constexpr Win32Error kShort = lenticor::kErrorInsufficientBuffer;
    struct Case {
        std::deque<Win32Error> queryResults = {};
        std::uint32_t paths = 0, modes = 0;  // 0: as many as needed
        Win32Error sizing = lenticor::kErrorSuccess;
        std::string message;
        int queries;
    };
    const std::string unsized = "could not size bounded desktop configuration";
    const Case cases[] = {
        {.message = "", .queries = 1},
        {.queryResults = {kShort}, .message = "", .queries = 2},
        {.queryResults = {kShort, kShort},
         .message = "desktop changed during bounded enumeration",
         .queries = 2},
        {.queryResults = {31}, .message = "QueryDisplayConfig failed: 31", .queries = 1},
        {.queryResults = {kShort, 87}, .message = "QueryDisplayConfig failed: 87", .queries = 2},
        // Buffers sized beyond what the query fills are trimmed to it.
        {.paths = 512, .modes = 1024, .message = "", .queries = 1},
        {.paths = 513, .modes = 4, .message = unsized, .queries = 0},
        {.paths = 2, .modes = 1025, .message = unsized, .queries = 0},
        {.sizing = lenticor::kErrorAccessDenied, .message = unsized, .queries = 0},
    };
    for (const auto& c : cases) {
        FakePorts ports(kPanelAndNimbo);
        ports.queryResults = c.queryResults;
        if (c.paths != 0) {
            ports.sizedPaths = c.paths;
            ports.sizedModes = c.modes;
        }
        ports.sizingResult = c.sizing;
        DesktopTopology topology;
        EXPECT_EQ(ThrownMessage([&] { return topology = CaptureDesktopTopology(ports); }),
                  c.message);
        EXPECT_EQ(ports.queries, c.queries) << c.message;
        if (c.message.empty()) {
            EXPECT_EQ(topology.snapshot, BuildTopology(kPanelAndNimbo).snapshot);
        }
    }
}

TEST(DesktopCapture, AnUnnamedPathIsSkippedWhenInactiveAndFatalWhenActive) {
    for (const bool active : {false, true}) {
        Monitor unnamed = OtherAt(3, 2, 3840);
        unnamed.named = false;
        unnamed.active = unnamed.available = active;
        FakePorts ports({OtherAt(1, 0, 0), unnamed});
        DesktopTopology topology;
        EXPECT_EQ(ThrownMessage([&] { return topology = CaptureDesktopTopology(ports); }),
                  active ? "active desktop target identity unavailable" : "");
        EXPECT_EQ(topology.targets.size(), active ? 0u : 1u);
    }
}

TEST(DesktopTargets, ActiveNimbosByHardwareIdAndAllOrNothing) {
    Monitor second = NimboAt(3, 2, 5760);
    second.model = "KZV2B09";
    Monitor dark = NimboAt(4, 3, 0, 2160);
    dark.active = false;
    FakePorts ports({OtherAt(1, 0, 0), NimboAt(2, 1, 1920), second, dark});
    const auto targets = EnumerateNimboTargets(ports, ports, CaptureDesktopTopology(ports));
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].displayId, DisplayIdOf(NimboAt(2, 1, 1920)));
    EXPECT_EQ(targets[0].targetKey, KeyOf(NimboAt(2, 1, 1920)));
    EXPECT_EQ(targets[1].targetKey, KeyOf(second));

    struct Case {
        std::vector<Monitor> machine;
        std::optional<std::size_t> unreadableMonitor;
        bool interfaceNamesMissing;
        const char* message;
    };
    const char* failed = "active Nimbo desktop enumeration failed";
    const Case cases[] = {
        {.machine = kPanelAndNimbo,
         .unreadableMonitor = 1,
         .interfaceNamesMissing = false,
         .message = failed},
        {.machine = kPanelAndNimbo,
         .unreadableMonitor = {},
         .interfaceNamesMissing = true,
         .message = failed},
        // Only a Nimbo's interface name is asked for.
        {.machine = {OtherAt(1, 0, 0)},
         .unreadableMonitor = {},
         .interfaceNamesMissing = true,
         .message = ""},
    };
    for (const auto& c : cases) {
        FakePorts broken(c.machine);
        broken.unreadableMonitor = c.unreadableMonitor;
        broken.interfaceNamesMissing = c.interfaceNamesMissing;
        const DesktopTopology topology = CaptureDesktopTopology(broken);
        EXPECT_EQ(ThrownMessage([&] { return EnumerateNimboTargets(broken, broken, topology); }),
                  c.message);
    }
}

TEST(DesktopTargets, KeyLookupNeedsExactlyOneMatch) {
    const Monitor nimbo = NimboAt(2, 1, 1920);
    FakePorts ports(kPanelAndNimbo);
    EXPECT_EQ(TargetKeyForDisplayId(ports, ports, ports, lenticor::ToLowerWide(DisplayIdOf(nimbo))),
              KeyOf(nimbo));
    EXPECT_EQ(TargetKeyForDisplayId(ports, ports, ports, L"MONITOR\\KZV1A07\\other"), "");
    // Two Nimbos reporting the same hardware id: no key rather than a guess.
    FakePorts twins({OtherAt(1, 0, 0), nimbo, NimboAt(3, 2, 5760)});
    EXPECT_EQ(TargetKeyForDisplayId(twins, twins, twins, DisplayIdOf(nimbo)), "");
}

TEST(DesktopIdentity, TheDeviceTreeMustConfirmEveryLink) {
    using Raw = FakePorts::RawProperty;
    const std::wstring instance = L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID2";
    auto odd = Utf16Bytes(instance);
    odd.push_back(0);
    auto unterminated = Utf16Bytes(instance);
    unterminated[unterminated.size() - 2] = 'x';
    // 199 characters and the NUL fill the 400-byte buffer; one more must not be read.
    const auto oversized = Utf16Bytes(instance + std::wstring(200 - instance.size(), L'x'));
    struct Case {
        const char* name;
        bool verified = false;
        std::wstring displayId = kNimboId;
        std::string key = kNimboKey;
        std::optional<Raw> instanceId = std::nullopt;
        ConfigRet locate = lenticor::kCrSuccess;
        bool identityBroken = false;
    };
    const Case cases[] = {
        {.name = "intact", .verified = true},
        {.name = "lower-case display id",
         .verified = true,
         .displayId = lenticor::ToLowerWide(kNimboId)},
        {.name = "instance id as stored",
         .verified = true,
         .instanceId = Raw{.bytes = Utf16Bytes(instance)}},
        {.name = "driver key differs", .identityBroken = true},
        {.name = "hardware id tail differs",
         .displayId = kNimboId.substr(0, kNimboId.size() - 1) + L"2"},
        {.name = "key without separator", .key = kNimboKey.substr(0, kNimboKey.find('|'))},
        {.name = "key of another monitor", .key = KeyOf(OtherAt(1, 0, 0))},
        {.name = "not a Nimbo",
         .displayId = DisplayIdOf(OtherAt(1, 0, 0)),
         .key = KeyOf(OtherAt(1, 0, 0))},
        {.name = "no interface property",
         .instanceId = Raw{.result = lenticor::kCrCallNotImplemented}},
        {.name = "not a string", .instanceId = Raw{.type = 0x10, .bytes = Utf16Bytes(instance)}},
        {.name = "odd size", .instanceId = Raw{.bytes = odd}},
        {.name = "no NUL", .instanceId = Raw{.bytes = unterminated}},
        {.name = "empty", .instanceId = Raw{}},
        {.name = "longer than the buffer", .instanceId = Raw{.bytes = oversized}},
        {.name = "another interface",
         .instanceId = Raw{.bytes = Utf16Bytes(L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID9")}},
        {.name = "device node not found", .locate = lenticor::kCrNoSuchDevnode},
    };
    for (const auto& c : cases) {
        FakePorts ports(kPanelAndNimbo);
        ports.instanceIdOverride = c.instanceId;
        ports.locateResult = c.locate;
        ports.monitors[1].identityBroken = c.identityBroken;
        EXPECT_EQ(VerifyTargetIdentity(ports, c.displayId, c.key), c.verified) << c.name;
    }
}

TEST(DesktopApply, ValidatesOrAppliesTheSnapshotWithExactFlags) {
    FakePorts ports(kPanelAndNimbo);
    const DesktopTopology topology = BuildTopology(kPanelAndNimbo);
    std::ostringstream err;
    EXPECT_TRUE(ApplyDesktopTopology(ports, err, topology, true));
    EXPECT_TRUE(ApplyDesktopTopology(ports, err, topology, false));
    EXPECT_EQ(ports.setFlags, (std::vector<std::uint32_t>{0x60, 0xA0}));
    const auto expected = BuildSnapshot(kPanelAndNimbo).paths;
    ASSERT_EQ(ports.setPaths.size(), expected.size());
    EXPECT_EQ(std::memcmp(ports.setPaths.data(), expected.data(), sizeof(expected[0]) * 2), 0);
    // Nothing to hand over: no call at all.
    EXPECT_FALSE(ApplyDesktopTopology(ports, err, DesktopTopology{}, true));
    EXPECT_EQ(ports.setFlags.size(), 2u);
}

TEST(DesktopDarken, ATakenClassNameIsNoFailureButNoWindowIs) {
    struct Case {
        Win32Error registerResult, createResult;
        std::vector<std::string> calls;
        const char* err;
    };
    const std::vector<std::string> all = {"register", "create", "send", "destroy 77", "unregister"};
    const Case cases[] = {
        {.registerResult = 0, .createResult = 0, .calls = all, .err = ""},
        {.registerResult = 1410, .createResult = 0, .calls = all, .err = ""},
        {.registerResult = 8,
         .createResult = 0,
         .calls = {"register"},
         .err = "[NimboDesktop] darken window class failed: 8\n"},
        {.registerResult = 0,
         .createResult = 1400,
         .calls = {"register", "create"},
         .err = "[NimboDesktop] darken window failed: 1400\n"},
    };
    for (const auto& c : cases) {
        FakeWindows windows;
        windows.registerResult = c.registerResult;
        windows.createResult = c.createResult;
        std::ostringstream err;
        EXPECT_EQ(DarkenDisplays(windows, err), c.err[0] == '\0');
        EXPECT_EQ(windows.calls, c.calls);
        EXPECT_EQ(err.str(), c.err);
    }
}

}  // namespace
}  // namespace nimbo::test
