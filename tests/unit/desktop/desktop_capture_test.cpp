// Capture, target enumeration, identity, SetDisplayConfig and darkening over
// the simulated machine's ports, with its fault switches for what Windows can
// do between two calls, and thin wrappers only where the machine cannot say it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/text.h"
#include "desktop/desktop_builders.h"
#include "desktop/desktop_capture.h"
#include "desktop/desktop_command.h"
#include "displays/display_test_machine.h"

namespace nimbo::test {
namespace {

using Json = nlohmann::json;
using lenticor::Win32Error;
namespace sim = lenticor::sim;

constexpr const char* kPanel = "LPN0A81";
constexpr const char* kNimbo = "KZV1A07";

// A 1920-wide output at `x` with a monitor of `model`; `monitor` adds members.
Json Screen(const std::string& model, int x, const Json& monitor = Json::object()) {
    Json m = lenticor::testing::Monitor(model, "Generic PnP Monitor", nullptr);
    if (monitor.is_object())
        m.update(monitor);
    return lenticor::testing::Output(x, 0, 1920, 1080, m);
}

std::wstring DisplayId(const std::string& model) {
    const std::string id = Screen(model, 0)["monitor"]["hardwareId"];
    return {id.begin(), id.end()};
}

// The key of the output with target 4352 + `index` on the machine's one adapter.
std::string KeyAt(std::string model, int index) {
    std::transform(model.begin(), model.end(), model.begin(), ::tolower);
    const std::string target = std::to_string(4352 + index);
    return "\\\\?\\display#" + model + "#5&1a2b3c4d&0&uid" + target +
           "#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}|0:65536:" + target;
}

// A simulated machine from a snippet, its ports answering the product with a
// few switches for what the machine cannot say: a buffer size to report
// (0: the real one), the count of queries, the Nimbo
// (second output) leaving while monitors are listed, and the raw instance id
// (UTF-16, NUL as given) every interface reports.
class Sim final : public lenticor::DisplayConfig,
                  public lenticor::Monitors,
                  public lenticor::ConfigManager {
  public:
    explicit Sim(Json outputs = {Screen(kPanel, 0), Screen(kNimbo, 1920)}, Json faults = nullptr) {
        Json document = lenticor::testing::OneAdapter(std::move(outputs));
        if (faults.is_object())
            document["desktop"] = {{"faults", std::move(faults)}};
        machine = sim::ParseMachine(document);
    }
    std::string Snapshot() { return CaptureDesktopTopology(ports.displayConfig).snapshot; }

    sim::SimMachine machine;
    sim::SimPorts ports{machine};
    std::uint32_t paths = 0, modes = 0;
    int queries = 0;
    bool leaves = false;
    std::optional<std::pair<std::uint32_t, std::wstring>> rawInstanceId;

    // clang-format off
    Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags, std::uint32_t& p, std::uint32_t& m) override {
        const Win32Error result = ports.displayConfig.GetDisplayConfigBufferSizes(flags, p, m);
        std::tie(p, m) = std::pair(paths ? paths : p, modes ? modes : m);
        return result;
    }
    Win32Error QueryDisplayConfig(std::uint32_t flags, std::vector<dcfg::DISPLAYCONFIG_PATH_INFO>& p, std::vector<dcfg::DISPLAYCONFIG_MODE_INFO>& m, std::uint32_t* topologyId) override { ++queries; return ports.displayConfig.QueryDisplayConfig(flags, p, m, topologyId); }
    // The rest pass straight to the machine.
    Win32Error GetTargetName(dcfg::LUID a, std::uint32_t t, lenticor::DisplayConfigTargetName& n) override { return ports.displayConfig.GetTargetName(a, t, n); }
    Win32Error GetSourceName(dcfg::LUID a, std::uint32_t s, lenticor::DisplayConfigSourceName& n) override { return ports.displayConfig.GetSourceName(a, s, n); }
    Win32Error SetDisplayConfig(std::span<const dcfg::DISPLAYCONFIG_PATH_INFO> p, std::span<const dcfg::DISPLAYCONFIG_MODE_INFO> m, std::uint32_t flags) override { return ports.displayConfig.SetDisplayConfig(p, m, flags); }
    Win32Error GetDpiScale(dcfg::DISPLAYCONFIG_GET_DPI_SCALE& packet) override { return ports.displayConfig.GetDpiScale(packet); }
    Win32Error SetDpiScale(const dcfg::DISPLAYCONFIG_SET_DPI_SCALE& packet) override { return ports.displayConfig.SetDpiScale(packet); }
    lenticor::ConfigRet GetDeviceIdListSize(std::uint32_t& size, std::wstring_view filter, std::uint32_t flags) override { return ports.configManager.GetDeviceIdListSize(size, filter, flags); }
    lenticor::ConfigRet GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer, std::uint32_t flags) override { return ports.configManager.GetDeviceIdList(filter, buffer, flags); }
    bool QueryMonitorInfo(lenticor::MonitorHandle monitor, lenticor::MonitorInfo& info) override { return ports.monitors.QueryMonitorInfo(monitor, info); }
    lenticor::ConfigRet LocateDevNode(lenticor::DevInst& node, std::wstring_view id, std::uint32_t flags) override { return ports.configManager.LocateDevNode(node, id, flags); }
    lenticor::ConfigRet GetDevNodeProperty(lenticor::DevInst node, lenticor::DeviceProperty key, std::uint32_t& type, std::span<std::uint8_t> buffer, std::uint32_t& size) override { return ports.configManager.GetDevNodeProperty(node, key, type, buffer, size); }
    bool EnumDisplayMonitors(const std::function<bool(lenticor::MonitorHandle)>& visit) override {
        return ports.monitors.EnumDisplayMonitors([&](lenticor::MonitorHandle monitor) { if (leaves) machine.adapters[0].outputs[1].active = false; return visit(monitor); });
    }
    lenticor::ConfigRet GetDeviceInterfaceProperty(std::wstring_view path, lenticor::DeviceProperty key, std::uint32_t& type, std::span<std::uint8_t> buffer, std::uint32_t& size) override {
        if (!rawInstanceId)
            return ports.configManager.GetDeviceInterfaceProperty(path, key, type, buffer, size);
        type = rawInstanceId->first;
        std::vector<std::uint8_t> bytes;
        for (const wchar_t c : rawInstanceId->second)
            bytes.insert(bytes.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
        std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), size), buffer.begin());
        size = static_cast<std::uint32_t>(bytes.size());
        return lenticor::kCrSuccess;
    }
    // clang-format on
};

// A desktop that changes between sizing and query is the end-to-end cases' part.
TEST(DesktopCapture, BoundedQuery) {
    const std::string clean = Sim().Snapshot(),
                      unsized = "could not size bounded desktop configuration";
    ASSERT_NE(clean, "");
    struct Case {
        std::optional<Win32Error> query, sizing;
        std::uint32_t paths, modes;
        std::string message;
        int queries;
    };
    // clang-format off
    const Case cases[] = {
        {87, {}, 0, 0, "QueryDisplayConfig failed: 87", 1},
        // Buffers sized beyond what the query fills are trimmed to it.
        {{}, {}, 512, 1024, "", 1},
        {{}, {}, 513, 8, unsized, 0},
        {{}, {}, 8, 1025, unsized, 0},
        {{}, lenticor::kErrorAccessDenied, 0, 0, unsized, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        Sim s;
        s.machine.faults.queryDisplayConfig = c.query;
        s.machine.faults.getDisplayConfigBufferSizes = c.sizing;
        s.paths = c.paths;
        s.modes = c.modes;
        DesktopTopology topology;
        EXPECT_EQ(ErrorOf([&] { topology = CaptureDesktopTopology(s); }), c.message);
        EXPECT_EQ(s.queries, c.queries) << c.message;
        EXPECT_EQ(topology.snapshot, c.message.empty() ? clean : "") << c.message;
    }
}

// An active one without a name is fatal; the end-to-end cases show that.
TEST(DesktopCapture, AnInactivePathWithoutANameIsSkipped) {
    Json outputs = {Screen(kPanel, 0), Screen(kPanel, 1920)};
    outputs[1]["active"] = false;
    EXPECT_EQ(ErrorOf([&] {
                  Sim(outputs, {{"unreadableTargetName", "\\\\.\\DISPLAY2"}}).Snapshot();
              }),
              "");
}

TEST(DesktopTargets, ActiveNimbosByHardwareIdAndAllOrNothing) {
    Json dark = Screen(kNimbo, 5760);
    dark["active"] = false;
    Sim s({Screen(kPanel, 0), Screen(kNimbo, 1920), Screen("KZV2B09", 3840), dark});
    const auto targets =
        EnumerateNimboTargets(s, s.ports.displayDevices, CaptureDesktopTopology(s));
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].displayId, DisplayId(kNimbo));
    EXPECT_EQ(targets[0].targetKey, KeyAt(kNimbo, 1));
    EXPECT_EQ(targets[1].targetKey, KeyAt("KZV2B09", 2));

    // All or nothing; only a Nimbo's interface name is asked for.
    const Json unnamed = {{"interfacePath", ""}};
    const std::string failed = "active Nimbo desktop enumeration failed";
    // clang-format off
    for (const auto& [leaves, outputs, message] : {std::tuple<bool, Json, std::string>{true, Json{Screen(kPanel, 0), Screen(kNimbo, 1920)}, failed},
                                                   {false, Json{Screen(kPanel, 0), Screen(kNimbo, 1920, unnamed)}, failed},
                                                   {false, Json{Screen(kPanel, 0, unnamed)}, ""}}) {
        // clang-format on
        Sim broken(outputs);
        broken.leaves = leaves;
        const DesktopTopology topology = CaptureDesktopTopology(broken);
        EXPECT_EQ(ErrorOf([&] {
                      (void)EnumerateNimboTargets(broken, broken.ports.displayDevices, topology);
                  }),
                  message);
    }

    // A key only for exactly one match: two Nimbos with one hardware id give none.
    EXPECT_EQ(TargetKeyForDisplayId(s, s, s.ports.displayDevices,
                                    lenticor::ToLowerWide(DisplayId(kNimbo))),
              KeyAt(kNimbo, 1));
    EXPECT_EQ(TargetKeyForDisplayId(s, s, s.ports.displayDevices, L"MONITOR\\KZV1A07\\x"), "");
    Sim twins({Screen(kPanel, 0), Screen(kNimbo, 1920), Screen(kNimbo, 3840)});
    EXPECT_EQ(TargetKeyForDisplayId(twins, twins, twins.ports.displayDevices, DisplayId(kNimbo)),
              "");
}

TEST(DesktopIdentity, TheDeviceTreeMustConfirmEveryLink) {
    const std::wstring id = DisplayId(kNimbo);
    const std::string key = KeyAt(kNimbo, 1), other = KeyAt(kPanel, 0);
    const std::wstring instance = L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID4353";
    // 199 characters and the NUL fill the 400-byte buffer; one more must not be read.
    const std::wstring nul(1, L'\0'),
        oversized = instance + std::wstring(200 - instance.size(), L'x');
    const Json elsewhere = {{"instanceId", "5&1a2b3c4d&0&UID9"},
                            {"interfacePath",
                             "\\\\?\\DISPLAY#KZV1A07#5&1a2b3c4d&0&UID4353#{"
                             "e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}"}};
    struct Case {
        const char* name;
        bool verified;
        std::wstring displayId;
        std::string key;
        Json nimbo = Json::object();
        std::optional<std::pair<std::uint32_t, std::wstring>> raw = std::nullopt;
    };
    const auto string = lenticor::kDevPropTypeString;
    // clang-format off
    const Case cases[] = {
        {"intact", true, id, key},
        {"lower-case display id", true, lenticor::ToLowerWide(id), key},
        {"key without separator", false, id, key.substr(0, key.find('|'))},
        {"key of another monitor", false, id, other},
        {"not a Nimbo", false, DisplayId(kPanel), other},
        {"instance of another interface", false, id, key, elsewhere},
        {"raw but intact", true, id, key, {}, {{string, instance + nul}}},
        {"not a string", false, id, key, {}, {{0x10, instance + nul}}},
        {"no NUL", false, id, key, {}, {{string, instance}}},
        {"longer than the buffer", false, id, key, {}, {{string, oversized + nul}}},
        {"device node not found", false, id, key, {}, {{string, instance + L'9' + nul}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        Sim s(Json{Screen(kPanel, 0), Screen(kNimbo, 1920, c.nimbo)});
        s.rawInstanceId = c.raw;
        EXPECT_EQ(VerifyTargetIdentity(s, c.displayId, c.key), c.verified) << c.name;
    }
}

// Applying and validating are shown end to end; a topology without paths
// makes no call at all, so no fault is met.
TEST(DesktopApply, NothingToHandOverMakesNoCall) {
    Sim refusing(Json{Screen(kPanel, 0)}, {{"validate", 1u}, {"apply", 31u}});
    std::ostringstream err;
    EXPECT_FALSE(ApplyDesktopTopology(refusing, err, DesktopTopology{}, true));
    EXPECT_FALSE(ApplyDesktopTopology(refusing, err, DesktopTopology{}, false));
    EXPECT_EQ(err.str(), "");
}

// A second darken in one session finds its window class still registered.
TEST(DesktopDarken, ATakenClassNameIsNoFailure) {
    Sim s;
    ASSERT_EQ(s.ports.windows.RegisterDefaultWindowClass(L"KorvoNimboDesktopDarken"), 0u);
    std::ostringstream err;
    EXPECT_TRUE(DarkenDisplays(s.ports.windows, err));
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(s.machine.desktop.displaysOffRequests, 1u);
    Sim failing(Json{Screen(kPanel, 0)}, {{"registerClass", 5u}});
    EXPECT_FALSE(DarkenDisplays(failing.ports.windows, err));
    EXPECT_EQ(err.str(), "[NimboDesktop] darken window class failed: 5\n");
}

}  // namespace
}  // namespace nimbo::test
