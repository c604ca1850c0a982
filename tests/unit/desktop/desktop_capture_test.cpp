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
    for (const wchar_t c : std::wstring(text) + L'\0')
        bytes.insert(bytes.end(), {std::uint8_t(c & 0xFF), std::uint8_t((c >> 8) & 0xFF)});
    return bytes;
}

std::wstring InstanceIdOf(const Monitor& m) {
    std::wstring path = InterfacePathOf(m);  // \\?\DISPLAY#model#instance#{class}
    path = path.substr(4, path.find(L"#{") - 4);
    std::replace(path.begin(), path.end(), L'#', L'\\');
    return lenticor::ToLowerWide(path);
}

// Every active monitor is its own HMONITOR and GDI device, numbered from 1.
class FakePorts final : public lenticor::DisplayConfig,
                        public lenticor::Monitors,
                        public lenticor::DisplayDevices,
                        public lenticor::ConfigManager {
  public:
    struct RawProperty {
        std::uint32_t type = lenticor::kDevPropTypeString;
        std::vector<std::uint8_t> bytes;
    };

    explicit FakePorts(std::vector<Monitor> machine) : monitors(std::move(machine)) {}

    std::vector<Monitor> monitors;
    std::deque<Win32Error> queryResults;           // answered before the real one
    std::uint32_t sizedPaths = 0, sizedModes = 0;  // 0: as many as needed
    Win32Error sizingResult = lenticor::kErrorSuccess;
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
        paths = sizedPaths ? sizedPaths : static_cast<std::uint32_t>(snapshot.paths.size());
        modes = sizedModes ? sizedModes : static_cast<std::uint32_t>(snapshot.modes.size());
        // Only all paths show a detached Nimbo.
        return flags == lenticor::kQdcAllPaths ? sizingResult : lenticor::kErrorInvalidParameter;
    }
    Win32Error QueryDisplayConfig(std::uint32_t flags,
                                  std::vector<dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
                                  std::vector<dcfg::DISPLAYCONFIG_MODE_INFO>& modes,
                                  std::uint32_t*) override {
        ++queries;
        const DesktopSnapshot snapshot = BuildSnapshot(monitors);
        if (!queryResults.empty()) {
            const auto result = queryResults.front();
            queryResults.pop_front();
            return result;
        }
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
            if (m.named && m.adapter == adapter.LowPart && m.targetId == target)
                return name.monitorDevicePath = InterfacePathOf(m), lenticor::kErrorSuccess;
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
        return lenticor::kErrorSuccess;
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
        const std::size_t i = std::stoul(std::wstring(device->substr(11))) - 1;
        if (index != 0 || i >= active.size())
            return std::nullopt;
        lenticor::DisplayDevice found;
        found.stateFlags = lenticor::kDisplayDeviceActive | lenticor::kDisplayDeviceAttached;
        if ((flags & lenticor::kEddGetDeviceInterfaceName) == 0)
            found.deviceId = DisplayIdOf(active[i]);
        else if (!interfaceNamesMissing)
            found.deviceId = InterfacePathOf(active[i]);
        return found;
    }
    std::optional<lenticor::DisplaySettings> EnumDisplaySettings(std::wstring_view,
                                                                 std::uint32_t) override {
        return std::nullopt;
    }

    // Interface paths and instance ids compare without regard to case, as the device tree does.
    ConfigRet GetDeviceInterfaceProperty(std::wstring_view path, lenticor::DeviceProperty,
                                         std::uint32_t& type, std::span<std::uint8_t> buffer,
                                         std::uint32_t& size) override {
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
        return lenticor::kCrSuccess;
    }
    ConfigRet LocateDevNode(lenticor::DevInst& devInst, std::wstring_view instanceId,
                            std::uint32_t) override {
        for (std::size_t i = 0; i < monitors.size() && locateResult == lenticor::kCrSuccess; ++i) {
            if (InstanceIdOf(monitors[i]) == lenticor::ToLowerWide(instanceId))
                return devInst = static_cast<lenticor::DevInst>(i + 1), lenticor::kCrSuccess;
        }
        return locateResult == lenticor::kCrSuccess ? lenticor::kCrNoSuchDevnode : locateResult;
    }
    ConfigRet GetDevNodeProperty(lenticor::DevInst devInst, lenticor::DeviceProperty,
                                 std::uint32_t& type, std::span<std::uint8_t> buffer,
                                 std::uint32_t& size) override {
        const Monitor& m = monitors.at(devInst - 1);
        const auto bytes =
            Utf16Bytes(L"{4d36e96e-e325-11ce-bfc1-08002be10318}\\" +
                       (m.identityBroken ? std::wstring(L"9999")
                                         : std::wstring(m.driver.begin(), m.driver.end())));
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

const std::vector<Monitor> kPanelAndNimbo = {OtherAt(1, 0, 0), NimboAt(2, 1, 1920)};
const std::wstring kNimboId = DisplayIdOf(kPanelAndNimbo[1]);
const std::string kNimboKey = KeyOf(kPanelAndNimbo[1]);

TEST(DesktopCapture, BoundedQueryRetriesOnceWhenTheDesktopChanges) {
    constexpr Win32Error kShort = lenticor::kErrorInsufficientBuffer;
    const std::string unsized = "could not size bounded desktop configuration";
    struct Case {
        std::deque<Win32Error> queryResults;
        std::uint32_t paths, modes;  // 0: as many as needed
        Win32Error sizing;
        std::string message;
        int queries;
    };
    // clang-format off
    const Case cases[] = {
        {{}, 0, 0, 0, "", 1},
        {{kShort}, 0, 0, 0, "", 2},
        {{kShort, kShort}, 0, 0, 0, "desktop changed during bounded enumeration", 2},
        {{kShort, 87}, 0, 0, 0, "QueryDisplayConfig failed: 87", 2},
        // Buffers sized beyond what the query fills are trimmed to it.
        {{}, 512, 1024, 0, "", 1},
        {{}, 513, 4, 0, unsized, 0},
        {{}, 2, 1025, 0, unsized, 0},
        {{}, 0, 0, lenticor::kErrorAccessDenied, unsized, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        FakePorts ports(kPanelAndNimbo);
        ports.queryResults = c.queryResults;
        ports.sizedPaths = c.paths;
        ports.sizedModes = c.modes;
        ports.sizingResult = c.sizing;
        DesktopTopology topology;
        EXPECT_EQ(ErrorOf([&] { topology = CaptureDesktopTopology(ports); }), c.message);
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
        EXPECT_EQ(ErrorOf([&] { topology = CaptureDesktopTopology(ports); }),
                  active ? "active desktop target identity unavailable" : "");
        EXPECT_EQ(topology.targets.size(), active ? 0u : 1u);
    }
}

TEST(DesktopTargets, ActiveNimbosByHardwareIdAndAllOrNothing) {
    const Monitor nimbo = NimboAt(2, 1, 1920);
    Monitor second = NimboAt(3, 2, 5760);
    second.model = "KZV2B09";
    Monitor dark = NimboAt(4, 3, 0, 2160);
    dark.active = false;
    FakePorts ports({OtherAt(1, 0, 0), nimbo, second, dark});
    const auto targets = EnumerateNimboTargets(ports, ports, CaptureDesktopTopology(ports));
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].displayId, DisplayIdOf(nimbo));
    EXPECT_EQ(targets[0].targetKey, KeyOf(nimbo));
    EXPECT_EQ(targets[1].targetKey, KeyOf(second));

    const std::string failed = "active Nimbo desktop enumeration failed";
    struct Case {
        std::vector<Monitor> machine;
        std::optional<std::size_t> unreadableMonitor;
        bool interfaceNamesMissing;
        std::string message;
    };
    // clang-format off
    const Case cases[] = {
        {kPanelAndNimbo, 1, false, failed},
        {kPanelAndNimbo, {}, true, failed},
        // Only a Nimbo's interface name is asked for.
        {{OtherAt(1, 0, 0)}, {}, true, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        FakePorts broken(c.machine);
        broken.unreadableMonitor = c.unreadableMonitor;
        broken.interfaceNamesMissing = c.interfaceNamesMissing;
        const DesktopTopology topology = CaptureDesktopTopology(broken);
        EXPECT_EQ(ErrorOf([&] { (void)EnumerateNimboTargets(broken, broken, topology); }),
                  c.message);
    }

    // A key only for exactly one match: two Nimbos with one hardware id give none.
    EXPECT_EQ(TargetKeyForDisplayId(ports, ports, ports, lenticor::ToLowerWide(DisplayIdOf(nimbo))),
              KeyOf(nimbo));
    EXPECT_EQ(TargetKeyForDisplayId(ports, ports, ports, L"MONITOR\\KZV1A07\\other"), "");
    FakePorts twins({OtherAt(1, 0, 0), nimbo, NimboAt(3, 2, 5760)});
    EXPECT_EQ(TargetKeyForDisplayId(twins, twins, twins, DisplayIdOf(nimbo)), "");
}

TEST(DesktopIdentity, TheDeviceTreeMustConfirmEveryLink) {
    using Raw = FakePorts::RawProperty;
    const std::wstring instance = L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID2";
    auto unterminated = Utf16Bytes(instance);
    unterminated[unterminated.size() - 2] = 'x';
    // 199 characters and the NUL fill the 400-byte buffer; one more must not be read.
    const auto oversized = Utf16Bytes(instance + std::wstring(200 - instance.size(), L'x'));
    const std::string other = KeyOf(OtherAt(1, 0, 0));
    const std::wstring lower = lenticor::ToLowerWide(kNimboId);
    struct Case {
        const char* name;
        bool verified;
        std::wstring displayId;
        std::string key;
        std::optional<Raw> instanceId = std::nullopt;
        ConfigRet locate = lenticor::kCrSuccess;
        bool identityBroken = false;
    };
    // clang-format off
    const Case cases[] = {
        {"intact", true, kNimboId, kNimboKey},
        {"lower-case display id", true, lower, kNimboKey},
        {"driver key differs", false, kNimboId, kNimboKey, {}, 0, true},
        {"key without separator", false, kNimboId, kNimboKey.substr(0, kNimboKey.find('|'))},
        {"key of another monitor", false, kNimboId, other},
        {"not a Nimbo", false, DisplayIdOf(OtherAt(1, 0, 0)), other},
        {"not a string", false, kNimboId, kNimboKey, Raw{.type = 0x10, .bytes = Utf16Bytes(instance)}},
        {"no NUL", false, kNimboId, kNimboKey, Raw{.bytes = unterminated}},
        {"longer than the buffer", false, kNimboId, kNimboKey, Raw{.bytes = oversized}},
        {"another interface", false, kNimboId, kNimboKey, Raw{.bytes = Utf16Bytes(L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID9")}},
        {"device node not found", false, kNimboId, kNimboKey, {}, lenticor::kCrNoSuchDevnode},
    };
    // clang-format on
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

// A second darken in one session finds its window class still registered.
TEST(DesktopDarken, ATakenClassNameIsNoFailure) {
    struct TakenClass final : lenticor::WindowSystem {
        Win32Error RegisterDefaultWindowClass(std::wstring_view) override { return 1410; }
        Win32Error CreateBareWindow(std::wstring_view, lenticor::WindowHandle& window) override {
            window = 77;
            return 0;
        }
        std::intptr_t SendWindowMessage(lenticor::WindowHandle, std::uint32_t, std::uintptr_t,
                                        std::intptr_t) override {
            return 0;
        }
        bool DestroyWindow(lenticor::WindowHandle) override { return true; }
        bool UnregisterWindowClass(std::wstring_view) override { return true; }
    } windows;
    std::ostringstream err;
    EXPECT_TRUE(DarkenDisplays(windows, err));
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace nimbo::test
