#include "platform/sim/sim_machine.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim_test_support.h"

#include <gtest/gtest.h>

namespace lenticor::sim {
namespace {

using Json = nlohmann::json;

const Json kOutput = {{"mode", {{"width", 1920}, {"height", 1080}, {"refreshRate", 60}}}};
const Json kMachine = {{"adapters", {{{"description", "GPU"}, {"outputs", {kOutput}}}}}};

TEST(SimulatedMachine, QueryDisplayConfigListsEverySourceTargetPairOnlyUnderAllPaths) {
    auto document = kMachine;
    document["adapters"][0]["outputs"].push_back(kOutput);
    document["adapters"][0]["outputs"][1]["active"] = false;
    auto machine = ParseMachine(document);
    SimDisplayConfig config(machine);
    // clang-format off
    const std::tuple<std::uint32_t, std::size_t, Win32Error, std::size_t> cases[] = {
        {kQdcAllPaths, 4, kErrorSuccess, 4},  // two sources by two targets
        {kQdcOnlyActivePaths, 4, kErrorSuccess, 1},
        {kQdcAllPaths, 3, kErrorInsufficientBuffer, 3},
    };
    // clang-format on
    for (const auto& [flags, room, want, returned] : cases) {
        std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths(room);
        std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes(4);
        EXPECT_EQ(config.QueryDisplayConfig(flags, paths, modes, nullptr), want) << flags;
        EXPECT_EQ(paths.size(), returned) << flags;
        EXPECT_TRUE(flags != kQdcOnlyActivePaths || paths[0].flags & 1u) << "the active path";
    }
}

// Windows answers a query with the desktop as it is then: a monitor that left
// after the sizing shows as an inactive target without a monitor, never as an
// active path whose name is already empty.
TEST(SimulatedMachine, AMonitorUnpluggedAfterSizingIsInactiveAndUnavailableInTheAnswer) {
    auto document = kMachine;
    auto withMonitor = kOutput;
    withMonitor["monitor"] = {{"hardwareId", "MONITOR\\KZV1A07\\{x}\\0001"}};
    document["adapters"][0]["outputs"].push_back(withMonitor);
    // clang-format off
    document["desktop"] = {{"faults", {{"unplug", {{"output", "\\\\.\\DISPLAY2"}, {"afterQueries", 0u}}}}}};
    // clang-format on
    auto machine = ParseMachine(document);
    SimDisplayConfig config(machine);
    std::uint32_t pathCount = 0, modeCount = 0;
    // clang-format off
    ASSERT_EQ(config.GetDisplayConfigBufferSizes(kQdcAllPaths, pathCount, modeCount), kErrorSuccess);
    // clang-format on
    std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths(pathCount);
    std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes(modeCount);
    ASSERT_EQ(config.QueryDisplayConfig(kQdcAllPaths, paths, modes, nullptr), kErrorSuccess);
    for (const auto& path : paths) {
        if (path.targetInfo.id != 4353)
            continue;
        EXPECT_EQ(path.flags & 1u, 0u) << "the unplugged target is not active";
        EXPECT_EQ(path.targetInfo.targetAvailable, 0) << "the unplugged target has no monitor";
    }
    EXPECT_EQ(modes.size(), 2u) << "only the remaining display has modes";
}

// One mode change, then the refresh rate now, after a later run's apply call
// (NULL device and mode), and after a restart.
TEST(SimulatedMachine, OnlyAModeStoredInTheRegistryOutlivesTheSession) {
    auto document = kMachine;
    auto& output = document["adapters"][0]["outputs"][0];
    output["modes"] = {output["mode"], {{"width", 1920}, {"height", 1080}, {"refreshRate", 48}}};
    output["monitor"] = {{"hardwareId", "MONITOR\\KZV1A07\\{x}\\0001"}};
    const DisplayModeRequest mode{kDmDisplayFrequency, 0, 0, 48};
    const auto rate = [](const SimMachine& machine) {
        return machine.adapters[0].outputs[0].mode.refreshRate;
    };
    // clang-format off
    const std::tuple<std::uint32_t, std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t> cases[] = {
        {0, 0, 48, 60, 60},
        {kCdsUpdateRegistry, 0, 48, 48, 48},
        {kCdsUpdateRegistry | kCdsNoReset, 0, 60, 48, 48},
        {kCdsNoReset, -4, 60, 60, 60},  // DISP_CHANGE_BADFLAGS
    };
    // clang-format on
    for (const auto& [flags, result, now, applied, restarted] : cases) {
        auto machine = ParseMachine(document);
        // clang-format off
        EXPECT_EQ(SimDisplayDevices(machine).ChangeDisplaySettingsEx(L"\\\\.\\DISPLAY1", &mode, flags), result);
        // clang-format on
        auto stored = document;
        StoreSimDesktop(machine, stored);
        auto later = ParseMachine(stored);
        (void)SimDisplayDevices(later).ChangeDisplaySettingsEx(std::nullopt, nullptr, 0);
        stored["restart"] = true;
        // clang-format off
        EXPECT_EQ(std::make_tuple(rate(machine), rate(later), rate(ParseMachine(stored))), std::make_tuple(now, applied, restarted)) << flags;
        // clang-format on
    }
}

TEST(MachineFile, CommitKeepsWhatAnotherRunWroteSinceThisOneStarted) {
    const testing::ScratchRoot folder;
    const auto file = folder.Path() / "machine.json";
    auto source = LoadMachine(file);
    auto other = LoadMachine(file);
    other.document["topologyId"] = 2;
    SaveMachineAtomically(file, other.document);
    CommitMachineChanges(source, [](Json& document) { document["desktop"] = Json::object(); });
    const auto reread = LoadMachine(file);
    EXPECT_EQ(reread.machine.topologyId, 2u);
    EXPECT_TRUE(reread.document.contains("desktop"));
    EXPECT_EQ(source.document, reread.document);
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "machine.json.tmp"));
}

}  // namespace
}  // namespace lenticor::sim
