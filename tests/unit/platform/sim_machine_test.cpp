#include "platform/sim/sim_machine.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/sim_ports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace lenticor::sim {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

Json MinimalOutput() {
    return {{"mode", {{"width", 1920}, {"height", 1080}, {"refreshRate", 60}}}};
}

Json MinimalMachine() {
    return {{"adapters", {{{"description", "GPU"}, {"outputs", {MinimalOutput()}}}}}};
}

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
        const char* change;  // JSON pointer to replace
        Json value;
        const char* problem;
    };
    const Case cases[] = {
        {"/adapters", "x", "/adapters: expected an array"},
        {"/adapters/0/description", 7, "/adapters/0/description: expected a string"},
        {"/adapters/0/outputs/0/mode/width", 0,
         "/adapters/0/outputs/0/mode/width: out of range 1..65535"},
        {"/adapters/0/outputs/0/mode/height", -5,
         "/adapters/0/outputs/0/mode/height: out of range 1..65535"},
        {"/adapters/0/outputs/0/position",
         {{"x", 1}, {"y", 2}, {"z", 3}},
         "/adapters/0/outputs/0/position/z: unknown member"},
        {"/adapters/0/outputs/0/position", {{"x", 1}}, "/adapters/0/outputs/0/position/y: missing"},
        {"/adapters/0/outputs/0/position",
         {{"x", 2000000000}, {"y", 0}},
         "/adapters/0/outputs/0/position/x: out of range -1000000..1000000"},
        {"/adapters/0/outputs/0/outputTechnology", "vga",
         "/adapters/0/outputs/0/outputTechnology: unknown output technology \"vga\""},
        {"/adapters/0/faults",
         {{"GetDesc1", "0xZZ"}},
         "/adapters/0/faults/GetDesc1: expected a code such as 87 or \"0x887A0004\""},
        {"/adapters/0/outputs/0/monitor",
         {{"hardwareId", "MONITOR\\A\\b"}, {"edid", "0f0"}},
         "/adapters/0/outputs/0/monitor/edid: odd number of hexadecimal digits"},
        {"/adapters/0/outputs/0/monitor",
         {{"hardwareId", "MONITOR\\A\\b"}, {"edid", {{"name", "Fourteen chars"}}}},
         "/adapters/0/outputs/0/monitor/edid/name: an EDID name holds at most 13 printable ASCII "
         "characters"},
        {"/registry",
         {{"SYSTEM\\x", Json::object()}},
         "/registry/SYSTEM\\x: a key path begins with HKLM\\ or HKCU\\"},
        {"/registry",
         {{"HKLM\\x", {{"v", {{"dword", 1}, {"string", "s"}}}}}},
         "/registry/HKLM\\x/v: expected exactly one of binary, dword, string"},
        {"/faults", {{"CreateDXGIFactory", 1}}, "/faults/CreateDXGIFactory: unknown member"},
        {"/adapters/1",
         {{"description", "Second"}, {"outputs", {MinimalOutput()}}},
         "/adapters/1/outputs/0: device name used twice"},
    };
    for (const auto& c : cases) {
        auto document = MinimalMachine();
        if (std::string(c.change) == "/adapters/1") {
            document["adapters"][0]["outputs"][0]["deviceName"] = "\\\\.\\DISPLAY2";
        }
        document[Json::json_pointer(c.change)] = c.value;
        EXPECT_EQ(ProblemOf(document), c.problem) << c.change;
    }
    EXPECT_EQ(ProblemOf(Json::array()), "/: expected an object");
    EXPECT_EQ(ProblemOf(Json::object()), "/adapters: missing");
}

TEST(SimulatedMachine, EveryViewOfOneMonitorAgrees) {
    auto document = MinimalMachine();
    document["adapters"][0]["outputs"][0]["monitor"] = {
        {"hardwareId", "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0003"},
        {"instanceId", "5&1&0&UID7"},
        {"edid", {{"name", "Korvo Nimbo"}}}};
    auto machine = ParseMachine(document);
    SimPorts ports(machine);

    const auto adapter = ports.displayDevices.EnumDisplayDevices(std::nullopt, 0, 0);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(adapter->deviceName, L"\\\\.\\DISPLAY1");
    EXPECT_EQ(adapter->stateFlags & kDisplayDevicePrimaryDevice, kDisplayDevicePrimaryDevice);
    const auto monitor = ports.displayDevices.EnumDisplayDevices(L"\\\\.\\display1", 0, 0);
    ASSERT_TRUE(monitor) << "GDI names compare case-insensitively";
    const auto byInterface =
        ports.displayDevices.EnumDisplayDevices(L"\\\\.\\DISPLAY1", 0, kEddGetDeviceInterfaceName);
    ASSERT_TRUE(byInterface);
    EXPECT_EQ(byInterface->deviceId,
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
    EXPECT_EQ(edid.size(), 128u);
    unsigned sum = 0;
    for (const auto byte : edid) {
        sum += byte;
    }
    EXPECT_EQ(sum % 256, 0u) << "the generated EDID carries a valid checksum";

    std::uint32_t paths = 0;
    std::uint32_t modes = 0;
    ASSERT_EQ(ports.displayConfig.GetDisplayConfigBufferSizes(kQdcOnlyActivePaths, paths, modes),
              kErrorSuccess);
    std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> pathArray(paths);
    std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modeArray(modes);
    ASSERT_EQ(
        ports.displayConfig.QueryDisplayConfig(kQdcOnlyActivePaths, pathArray, modeArray, nullptr),
        kErrorSuccess);
    ASSERT_EQ(pathArray.size(), 1u);
    DisplayConfigTargetName target;
    ASSERT_EQ(ports.displayConfig.GetTargetName(pathArray[0].targetInfo.adapterId,
                                                pathArray[0].targetInfo.id, target),
              kErrorSuccess);
    EXPECT_EQ(target.monitorDevicePath, byInterface->deviceId);
    EXPECT_EQ(target.edidProductCodeId, 0x1A07);
    DisplayConfigSourceName source;
    ASSERT_EQ(ports.displayConfig.GetSourceName(pathArray[0].sourceInfo.adapterId,
                                                pathArray[0].sourceInfo.id, source),
              kErrorSuccess);
    EXPECT_EQ(source.viewGdiDeviceName, adapter->deviceName);
}

TEST(SimulatedMachine, QueryDisplayConfigKeepsWindowsRulesForFlagsAndBuffers) {
    auto machine = ParseMachine(MinimalMachine());
    SimDisplayConfig config(machine);
    std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths(1);
    std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes(2);
    std::uint32_t topology = 0;
    EXPECT_EQ(config.QueryDisplayConfig(kQdcOnlyActivePaths, paths, modes, &topology),
              kErrorInvalidParameter)
        << "a topology id only with the current database";
    EXPECT_EQ(config.QueryDisplayConfig(kQdcDatabaseCurrent, paths, modes, nullptr),
              kErrorInvalidParameter);
    EXPECT_EQ(config.QueryDisplayConfig(kQdcAllPaths | kQdcOnlyActivePaths, paths, modes, nullptr),
              kErrorInvalidParameter);
    modes.resize(1);
    EXPECT_EQ(config.QueryDisplayConfig(kQdcOnlyActivePaths, paths, modes, nullptr),
              kErrorInsufficientBuffer);
    modes.resize(4);
    ASSERT_EQ(config.QueryDisplayConfig(kQdcDatabaseCurrent, paths, modes, &topology),
              kErrorSuccess);
    EXPECT_EQ(modes.size(), 2u) << "trimmed to what was returned";
    EXPECT_EQ(topology, kTopologyExternal) << "one DisplayPort monitor";
}

class MachineFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("lenticor-machine-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_F(MachineFileTest, AMissingFileReceivesTheDefaultMachine) {
    const auto file = folder_ / "machine.json";
    const auto source = LoadMachine(file);
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(source.document, DefaultMachineDocument());
    EXPECT_EQ(source.machine.adapters.at(0).outputs.size(), 2u);
}

TEST_F(MachineFileTest, AMalformedFileIsReportedWithItsName) {
    const auto file = folder_ / "machine.json";
    std::ofstream(file) << R"({"adapters": [{"outputs": []}]})";
    try {
        (void)LoadMachine(file);
        FAIL() << "accepted";
    } catch (const MachineError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "machine file " + file.string() + ": /adapters/0/description: missing");
    }
    std::ofstream(file) << "{\"adapters\": [";
    try {
        (void)LoadMachine(file);
        FAIL() << "accepted";
    } catch (const MachineError& error) {
        EXPECT_THAT(error.what(), HasSubstr("machine file " + file.string() + ": not JSON: "));
    }
}

TEST_F(MachineFileTest, ChangesAreSavedWholeAndOnlyWhenThereAreAny) {
    const auto file = folder_ / "machine.json";
    auto source = LoadMachine(file);
    source.document["topologyId"] = 2;
    SaveIfChanged(source);
    EXPECT_EQ(LoadMachine(file).document, DefaultMachineDocument()) << "unchanged: not saved";
    source.changed = true;
    SaveIfChanged(source);
    EXPECT_EQ(LoadMachine(file).machine.topologyId, 2u);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "machine.json.tmp"));
}

}  // namespace
}  // namespace lenticor::sim
