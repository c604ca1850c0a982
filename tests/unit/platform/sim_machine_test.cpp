#include "platform/sim/sim_machine.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim_test_support.h"

#include <gtest/gtest.h>

#include <numeric>

namespace lenticor::sim {
namespace {

using Json = nlohmann::json;

const Json kOutput = {{"mode", {{"width", 1920}, {"height", 1080}, {"refreshRate", 60}}}};
const Json kMachine = {{"adapters", {{{"description", "GPU"}, {"outputs", {kOutput}}}}}};

std::string ProblemOf(const Json& document) {
    try {
        (void)ParseMachine(document);
    } catch (const MachineError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(ParseMachine, NamesThePlaceAndTheProblemOfEveryMalformedDescription) {
    struct Case {
        std::string at;  // JSON pointer to replace, and the start of the problem
        Json value;
        std::string problem;
    };
    const std::string out = "/adapters/0/outputs/0";
    const auto monitor = [](Json edid) {
        return Json{{"hardwareId", "MONITOR\\A\\b"}, {"edid", edid}};
    };
    auto clash = kOutput;
    clash["deviceName"] = "\\\\.\\display1";
    const Case cases[] = {
        {.at = "/adapters/0/description", .value = 7, .problem = ": expected a string"},
        {.at = out + "/mode/width", .value = 0, .problem = ": out of range 1..65535"},
        {.at = out + "/position",
         .value = {{"x", 1}, {"y", 2}, {"z", 3}},
         .problem = "/z: unknown member"},
        {.at = out + "/position", .value = {{"x", 1}}, .problem = "/y: missing"},
        {.at = out + "/outputTechnology",
         .value = "vga",
         .problem = ": unknown output technology \"vga\""},
        {.at = "/adapters/0/faults",
         .value = {{"GetDesc1", "0xZZ"}},
         .problem = "/GetDesc1: expected a code such as 87 or \"0x887A0004\""},
        {.at = out + "/monitor",
         .value = monitor("0f0"),
         .problem = "/edid: odd number of hexadecimal digits"},
        {.at = out + "/monitor",
         .value = monitor({{"name", "Fourteen chars"}}),
         .problem = "/edid/name: an EDID name holds at most 13 printable ASCII characters"},
        {.at = "/registry",
         .value = {{"SYSTEM\\x", Json::object()}},
         .problem = "/SYSTEM\\x: a key path begins with HKLM\\ or HKCU\\"},
        {.at = "/registry",
         .value = {{"HKLM\\x", {{"v", {{"dword", 1}, {"string", "s"}}}}}},
         .problem = "/HKLM\\x/v: expected exactly one of binary, dword, string"},
        {.at = "/adapters/1",
         .value = {{"description", "B"}, {"outputs", {clash}}},
         .problem = "/outputs/0: device name used twice"},
    };
    for (const auto& c : cases) {
        auto document = kMachine;
        document[Json::json_pointer(c.at)] = c.value;
        EXPECT_EQ(ProblemOf(document), c.at + c.problem);
    }
    EXPECT_EQ(ProblemOf(Json::array()), "/: expected an object");
    EXPECT_EQ(ProblemOf(Json::object()), "/adapters: missing");
}

// How the interface path agrees with the target names is proven end to end
// by the desktop cases; the EDID rules here are what monitor names rely on.
TEST(SimulatedMachine, MonitorDevicesAndEdidFollowWindowsRules) {
    auto document = kMachine;
    document["adapters"][0]["outputs"][0]["monitor"] = {
        {"hardwareId", "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0003"},
        {"instanceId", "5&1&0&UID7"},
        {"edid", {{"name", "Korvo Nimbo"}}}};
    auto machine = ParseMachine(document);
    SimPorts ports(machine);
    const auto monitor =
        ports.displayDevices.EnumDisplayDevices(L"\\\\.\\display1", 0, kEddGetDeviceInterfaceName);
    ASSERT_TRUE(monitor) << "GDI names compare case-insensitively";
    EXPECT_EQ(monitor->deviceId,
              L"\\\\?\\DISPLAY#KZV1A07#5&1&0&UID7#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}");

    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(ports.registry.OpenKey(RegistryHive::LocalMachine,
                                     L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\KZV1A07\\5&1&0&"
                                     L"UID7\\Device Parameters",
                                     kKeyRead, key),
              kErrorSuccess);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> edid;
    EXPECT_EQ(key->QueryValue(L"EDID", 64, type, edid), kErrorMoreData);
    ASSERT_EQ(key->QueryValue(L"edid", 256, type, edid), kErrorSuccess);
    EXPECT_EQ(type, kRegBinary);
    ASSERT_EQ(edid.size(), 128u);
    EXPECT_EQ(std::accumulate(edid.begin(), edid.end(), 0u) % 256, 0u) << "checksum";
}

TEST(SimulatedMachine, QueryDisplayConfigKeepsWindowsRulesForFlagsAndBuffers) {
    auto machine = ParseMachine(kMachine);
    SimDisplayConfig config(machine);
    struct Case {
        std::uint32_t flags;
        bool topology = false;
        std::size_t modes;
        Win32Error want;
    };
    const Case cases[] = {
        {.flags = kQdcOnlyActivePaths,
         .topology = true,
         .modes = 2,
         .want = kErrorInvalidParameter},
        {.flags = kQdcDatabaseCurrent, .modes = 2, .want = kErrorInvalidParameter},
        {.flags = kQdcAllPaths | kQdcOnlyActivePaths, .modes = 2, .want = kErrorInvalidParameter},
        {.flags = kQdcOnlyActivePaths, .modes = 1, .want = kErrorInsufficientBuffer},
        {.flags = kQdcDatabaseCurrent, .topology = true, .modes = 4, .want = kErrorSuccess},
    };
    for (const auto& c : cases) {
        std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths(1);
        std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes(c.modes);
        std::uint32_t topology = 0;
        EXPECT_EQ(
            config.QueryDisplayConfig(c.flags, paths, modes, c.topology ? &topology : nullptr),
            c.want)
            << "case " << &c - cases;
        if (c.want == kErrorSuccess) {
            EXPECT_EQ(modes.size(), 2u) << "trimmed to what was returned";
            EXPECT_EQ(topology, kTopologyExternal) << "one DisplayPort monitor";
        }
    }
}

TEST(MachineFile, IsWrittenWhenMissingSavedOnlyWhenChangedAndNamedInErrors) {
    const testing::ScratchRoot folder;
    const auto file = folder.Path() / "machine.json";
    auto source = LoadMachine(file);
    EXPECT_EQ(Json::parse(testing::ReadBytes(file)), DefaultMachineDocument());
    source.document["topologyId"] = 2;
    SaveIfChanged(source);
    EXPECT_EQ(LoadMachine(file).document, DefaultMachineDocument());
    source.changed = true;
    SaveIfChanged(source);
    EXPECT_EQ(LoadMachine(file).machine.topologyId, 2u);
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "machine.json.tmp"));

    testing::WriteBytes(file, "{\"adapters\": [");
    try {
        (void)LoadMachine(file);
        ADD_FAILURE() << "accepted";
    } catch (const MachineError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("machine file " + file.string() + ": not JSON: ", 0),
            0u);
    }
}

}  // namespace
}  // namespace lenticor::sim
