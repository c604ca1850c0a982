#include "readiness/camera_probe.h"

#include "app/text.h"
#include "platform/registry.h"
#include "readiness_test_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace lenticor::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// clang-format off
constexpr const char* kNimboPath = R"(\\?\usb#vid_5e17&pid_2c0b&mi_00#6&2d7c1b5&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global)";
constexpr const char* kDev1Path = R"(\\?\usb#vid_0c45&pid_6360&mi_00#7&3a1b2c3&0&0000#{x}\global)";
constexpr const char* kOtherVendorPath = R"(\\?\usb#vid_04f2&pid_b6dd&mi_00#6&1f0c&0&0000#{x}\global)";
constexpr const char* kInterfaceKey = R"(HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_5E17&PID_2C0B&MI_00\6&2D7C1B5&0&0000)";
constexpr const char* kCompositeKey = R"(HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_5E17&PID_2C0B)";
// clang-format on

nlohmann::json Camera(const char* devicePath, const char* friendlyName = "USB Camera") {
    return {{"friendlyName", friendlyName}, {"devicePath", devicePath}};
}

nlohmann::json NimboWithSerial(const char* serial) {
    auto camera = Camera(kNimboPath, "KORVO Nimbo Camera");
    camera.update(
        {{"serialNumber", serial}, {"containerId", "{0d9c5b2a-4a1e-4c8e-9b57-2f4a6c1d3e51}"}});
    return camera;
}

nlohmann::json Machine(const std::vector<nlohmann::json>& cameras,
                       nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json document = {{"adapters", nlohmann::json::array()}, {"cameras", cameras}};
    document.update(extra);
    return document;
}

TEST(SplitCameraDevicePath, ReturnsTheSegmentsAroundThePatternOnlyForTheFullShape) {
    struct Case {
        const char* situation;
        std::wstring path;
        std::string interfaceSegment = "";
        std::string instanceSegment = "";
    };
    // clang-format off
    const Case cases[] = {
        {"the Nimbo's interface path", *Utf8ToWideStrict(kNimboPath), "vid_5e17&pid_2c0b&mi_00", "6&2d7c1b5&0&0000"},
        {"shortest full shape", L"#vid_5e17&pid_2c0b#i#", "vid_5e17&pid_2c0b", "i"},
        {"pattern absent", LR"(\\?\usb#vid_0c45&pid_6360#6&1#{x}\global)"},
        {"no # after the segment", LR"(\\?\usb#vid_5e17&pid_2c0b&mi_00)"},
        {"no # after the instance", LR"(\\?\usb#vid_5e17&pid_2c0b#6&2d7c)"},
        {"empty instance", LR"(\\?\usb#vid_5e17&pid_2c0b&mi_00##{x}\global)"},
        {"no # before the pattern", L"vid_5e17&pid_2c0b#6&2d7c#{x}"},
        {"ends right after the #", LR"(\\?\usb#vid_5e17&pid_2c0b&mi_00#)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto segments = nimbo::SplitCameraDevicePath(c.path, L"vid_5e17&pid_2c0b");
        EXPECT_EQ(segments, std::pair(c.interfaceSegment, c.instanceSegment)) << c.situation;
    }
}

TEST(FindCameraRecoveryCandidates, KeepsSonixDevicesAndDecodesTheirLocation) {
    struct Case {
        const char* situation;
        nimbo::UsbDeviceEntry entry;
        std::optional<std::uint32_t> locationId;  // none: not a candidate
    };
    // clang-format off
    const Case cases[] = {
        {"another bus", {R"(HID\VID_0C45&PID_636D\5&4)", "Port_#0001.Hub_#0001"}, {}},
        {"port 0 is no port", {R"(USB\VID_0C45&PID_636D\a)", "Port_#0000.Hub_#0003"}, 0},
        {"hub 0 is a hub", {R"(USB\VID_0C45&PID_636D\b)", "Port_#0003.Hub_#0000"}, 3},
        {"hub alone", {R"(USB\VID_0C45&PID_636D\c)", "Hub_#0003"}, 0},
        {"port above 16 bits", {R"(USB\VID_0C45&PID_636D\d)", "Port_#65536.Hub_#0001"}, 0},
        {"hub above 16 bits", {R"(USB\VID_0C45&PID_636D\e)", "Port_#0001.Hub_#65536"}, 0},
        {"largest", {R"(USB\VID_0C45&PID_636D\f)", "Port_#65535.Hub_#65535"}, 4294901760u + 65535},
        {"huge port", {R"(USB\VID_0C45&PID_636D\g)", "Port_#99999999999999999999999.Hub_#1"}, 0},
    };
    for (const auto& c : cases) {
        const auto found = nimbo::FindCameraRecoveryCandidates({c.entry});
        ASSERT_EQ(found.size(), c.locationId ? 1u : 0u) << c.situation;
        if (c.locationId) {
            EXPECT_EQ(std::tie(found[0].instanceId, found[0].location, found[0].locationId, found[0].vendorId, found[0].productId, found[0].reason),
                      std::tuple(c.entry.instanceId, c.entry.location, *c.locationId, 3141u, 25453u, "possible_sonix_fallback")) << c.situation;
        }
    }
    // clang-format on
}

TEST(ListPresentUsbDevices, SizesAGrowingListAgainTwiceThenGivesUp) {
    // clang-format off
    const nlohmann::json devices = {{{"instanceId", R"(USB\A)"}}, {{"instanceId", R"(USB\C)"}, {"location", "L"}}};
    for (const std::uint32_t changes : {0u, 2u, 3u}) {
        ReadinessMachine pc(Machine({}, {{"usbDevices", devices}, {"faults", {{"deviceIdListChanges", changes}}}}));
        // clang-format on
        std::string listed;
        for (const auto& entry : nimbo::ListPresentUsbDevices(pc.platform.configManager)) {
            listed += entry.instanceId + "@" + entry.location + " ";
        }
        EXPECT_EQ(listed, changes < 3 ? R"(USB\A@ USB\C@L )" : "") << changes;
    }
}

// Tracing left unset is pinned end to end.
TEST(ProbeNimboCamera, SelectsTheNimboResolvesItsSerialAndLeavesNoComBehind) {
    struct Case {
        const char* situation;
        nlohmann::json document;
        std::string expected;        // a text standard error holds
        std::int32_t cameraId = -1;  // -1: no Nimbo camera
        std::string serial = "";
        const char* debug = "1";         // LENTICOR_CAMERA_DEBUG; nullptr: unset
        std::string absent = "";         // a text standard error does not hold
        bool threadInApartment = false;  // the caller's thread entered COM first
    };
    const std::string unresolved = "unresolved (consumer uses default S3D device id)\n";
    // clang-format off
    const auto interfaceWith = [](nlohmann::json value) { return nlohmann::json{{"registry", {{kInterfaceKey, {{"ContainerID", std::move(value)}}}}}}; };
    auto unmapped = interfaceWith({{"string", "{a}"}});
    unmapped["registry"][std::string(kCompositeKey) + R"(\OTHER)"] = {{"ContainerID", {{"string", "{b}"}}}};
    const auto com = [](const char* call, const char* code) { return nlohmann::json{{"faults", {{call, code}}}}; };
    const auto nimbo = Machine({Camera(kNimboPath)});
    // Sorted before the serial, the name Windows cannot hand back in 256 units.
    auto tooLong = Machine({NimboWithSerial("KN24A0001")});
    tooLong["registry"][std::string(kCompositeKey) + "\\" + std::string(256, 'A')] = nlohmann::json::object();
    const Case cases[] = {
        {"Dev-1 enumerated before the Nimbo", Machine({Camera(kDev1Path), NimboWithSerial("KN24a0001")}), "[CameraProbe] Selected Nimbo (5e17/2c0b) at DirectShow camera id 701; serial source: USB registry\n", 701, "KN24a0001", "1", "", true},
        {"only Dev-1", Machine({Camera(kDev1Path)}), "Selected Dev-1 (0c45/6360) at DirectShow camera id 700; serial source: DirectShow DevicePath\n", -1, "", "1", "No KORVO camera found"},
        {"interface key missing", nimbo, "[CameraProbe] Unable to open Nimbo interface registry key: " R"(SYSTEM\CurrentControlSet\Enum\USB\vid_5e17&pid_2c0b&mi_00\6&2d7c1b5&0&0000)" "\n", 700},
        {"ContainerID is a number", Machine({Camera(kNimboPath)}, interfaceWith({{"dword", 5}})), "[CameraProbe] Nimbo interface registry key has no ContainerID\n", 700},
        {"composite root missing", Machine({Camera(kNimboPath)}, interfaceWith({{"string", "{a}"}})), "[CameraProbe] Unable to open Nimbo composite registry root\n", 700},
        {"no subkey with the ContainerID", Machine({Camera(kNimboPath)}, unmapped), "[CameraProbe] Unable to map Nimbo interface ContainerID to USB serial\n", 700},
        {"a subkey name too long for the buffer, then the serial", tooLong, "serial source: USB registry\n", 700, "KN24A0001"},
        {"tracing set to 0", nimbo, "DirectShow camera path: " + std::string(kNimboPath), 700, "", "0"},
        {"tracing set empty", nimbo, unresolved, 700, "", "", "[CameraProbe] Unable to open"},
        {"CoInitializeEx fails", Machine({NimboWithSerial("S")}, com("CoInitializeEx", "0x80004005")), "DirectShow enumeration failed: -2147467259\n", -1, "", "1", "", true},
        {"class not registered", Machine({NimboWithSerial("S")}, com("CoCreateInstance", "0x80040154")), "DirectShow enumeration failed: -2147221164\n"},
        {"thread already in the other apartment", Machine({NimboWithSerial("S")}, com("CoInitializeEx", "0x80010106")), "USB registry\n", 700, "S", "1", "", true},
        {"two Nimbo cameras: the first wins", Machine({Camera(kNimboPath), NimboWithSerial("S")}), "id 700;", 700, "S"},
        {"a device that cannot bind, then the Nimbo", Machine({com("BindToStorage", "0x80004005"), Camera(kNimboPath)}), "id 701;", 701},
        {"a device without property bag, then the Nimbo", Machine({{{"faults", {{"noPropertyBag", true}}}}, Camera(kNimboPath)}), "id 701;", 701},
        {"devices without a path, then the Nimbo", Machine({{{"friendlyName", "Nimbo"}}, {{"friendlyName", "Nimbo"}, {"devicePath", nullptr}}, Camera(kNimboPath)}), "id 702;", 702},
        {"KORVO by name only", Machine({Camera(kOtherVendorPath, "KORVO Cam")}), "[CameraProbe] Ignoring friendly-name-only KORVO camera candidate without supported VID/PID\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        const ScopedEnvironmentVariable debug("LENTICOR_CAMERA_DEBUG", c.debug);
        ReadinessMachine pc(c.document);
        auto& devices = pc.ports.videoInputs;
        if (c.threadInApartment) {
            const auto fault = std::exchange(pc.machine.faults.coInitializeEx, std::nullopt);
            ASSERT_EQ(devices.CoInitializeApartment(), kSOk);
            pc.machine.faults.coInitializeEx = fault;
        }
        nimbo::CameraProbeContext context{pc.platform, pc.log};
        const auto camera = nimbo::ProbeNimboCamera(context);
        // clang-format off
        EXPECT_EQ(std::tie(camera.present, camera.cameraId, camera.serialNumber), std::tuple(c.cameraId >= 0, c.cameraId, c.serial));
        // clang-format on
        EXPECT_EQ(devices.liveInterfaces(), 0);
        EXPECT_EQ(devices.apartmentDepth(), c.threadInApartment ? 1 : 0);
        EXPECT_THAT(pc.Err(), HasSubstr(c.expected));
        if (!c.absent.empty()) {
            EXPECT_THAT(pc.Err(), Not(HasSubstr(c.absent)));
        }
    }
}

// The simulated registry, except that enumerating the composite root's
// subkeys answers `enumError` at every index (when scripted), and the first
// `growingReads` value reads find a longer value.
struct ScriptedRegistry final : Registry {
    struct Key final : RegistryKey {
        Key(ScriptedRegistry& registry, std::unique_ptr<RegistryKey> real, bool isRoot)
            : owner(registry), inner(std::move(real)), root(isRoot) {}
        Win32Error EnumKey(std::uint32_t index, std::wstring& name) override {
            if (!root || !owner.enumError)
                return ++owner.enumCalls, inner->EnumKey(index, name);
            // A walk that never ends is stopped here and fails on the count.
            return ++owner.enumCalls > 1000 ? kErrorNoMoreItems : *owner.enumError;
        }
        // clang-format off
        Win32Error QueryValueInfo(std::wstring_view value, std::uint32_t& type, std::uint32_t& size) override { return inner->QueryValueInfo(value, type, size); }
        Win32Error Flush() override { return inner->Flush(); }
        // clang-format on
        Win32Error QueryValue(std::wstring_view value, std::size_t capacity, std::uint32_t& type,
                              std::vector<std::uint8_t>& data) override {
            if (owner.growingReads > 0)
                return --owner.growingReads, kErrorMoreData;
            return inner->QueryValue(value, capacity, type, data);
        }
        ScriptedRegistry& owner;
        std::unique_ptr<RegistryKey> inner;
        bool root;
    };

    explicit ScriptedRegistry(Registry& simulated) : inner(simulated) {}
    Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t access,
                       std::unique_ptr<RegistryKey>& key) override {
        const auto status = inner.OpenKey(hive, subKey, access, key);
        if (status == kErrorSuccess)
            key = std::make_unique<Key>(*this, std::move(key),
                                        subKey.ends_with(L"\\VID_5E17&PID_2C0B"));
        return status;
    }
    // The probe only opens keys; anything else it asked for would fail the case.
    // clang-format off
    Win32Error RegGetValueW(RegistryHive, std::wstring_view, std::wstring_view, std::uint32_t, std::size_t, std::uint32_t&, std::vector<std::uint8_t>&) override { return kErrorInvalidFunction; }
    Win32Error RegSetKeyValueW(RegistryHive, std::wstring_view, std::wstring_view, std::uint32_t, std::span<const std::uint8_t>) override { return kErrorInvalidFunction; }
    Win32Error RegDeleteKeyValueW(RegistryHive, std::wstring_view, std::wstring_view) override { return kErrorInvalidFunction; }
    // clang-format on
    Registry& inner;
    std::optional<Win32Error> enumError;
    int growingReads = 0;
    int enumCalls = 0;
};

TEST(ResolveNimboCameraSerial, RereadsAGrowingValueTwiceAndEndsTheWalkOnAnEnumerationError) {
    struct Case {
        const char* situation;
        std::optional<Win32Error> enumError;
        int growingReads;
        int enumCalls;
        std::string serial = "";
    };
    const Case cases[] = {
        {"root deleted under the walk (ERROR_KEY_DELETED)", 1018, 0, 1},
        {"ContainerID grew twice between size and read", {}, 2, 1, "KN24A0001"},
        {"ContainerID kept growing", {}, 3, 0},
    };
    for (const auto& c : cases) {
        ReadinessMachine pc(Machine({NimboWithSerial("KN24A0001")}));
        ScriptedRegistry registry(pc.ports.registry);
        std::tie(registry.enumError, registry.growingReads) =
            std::tuple(c.enumError, c.growingReads);
        auto& p = pc.ports;
        // clang-format off
        Platform platform(pc.console, pc.clock, p.dxgi, p.displayDevices, registry, p.displayConfig, p.monitors, p.configManager, p.windows, pc.host.files,
                          pc.host.crypto, p.videoInputs, pc.host.environment, p.monitorConfiguration, pc.host.standardInput, p.steadyClock, p.modules, p.processes);
        nimbo::CameraProbeContext context{platform, pc.log};
        EXPECT_EQ(nimbo::ResolveNimboCameraSerial(context, "vid_5e17&pid_2c0b&mi_00", "6&2d7c1b5&0&0000"), c.serial) << c.situation;
        // clang-format on
        EXPECT_EQ(registry.enumCalls, c.enumCalls) << c.situation;
    }
}

}  // namespace
}  // namespace lenticor::testing
