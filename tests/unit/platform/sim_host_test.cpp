#include "platform/sim/sim_host.h"
#include "platform/sim/machine_lock.h"
#include "platform/sim/nvidia_driver_store.h"
#include "platform/sim/posix_host.h"
#include "platform/sim/sim_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

namespace lenticor::sim {
namespace {

TEST(SimulatedProgramData, OnlyProgramDataIsTheMachinesOwnInAnyLetterCase) {
    // The inherited environment already names the real machine-wide folder, as
    // every Windows process's does.
    ::setenv("ProgramData", "C:\\ProgramData", 1);
    ::setenv("LENTICOR_CAMERA_DEBUG", "1", 1);
    ProcessEnvironment inherited;
    SimulatedProgramData environment(inherited, L"Z:\\m\\drives\\c\\ProgramData");
    // name, capacity, return, value
    const std::tuple<const wchar_t*, std::uint32_t, std::uint32_t, const wchar_t*> cases[] = {
        {L"ProgramData", 260, 25, L"Z:\\m\\drives\\c\\ProgramData"},
        {L"PROGRAMDATA", 260, 25, L"Z:\\m\\drives\\c\\ProgramData"},
        {L"programdata", 26, 25, L"Z:\\m\\drives\\c\\ProgramData"},
        {L"ProgramData", 25, 26, L""},  // no room for the terminator: the size it needs
        {L"ProgramDat", 260, 0, L""},
        {L"LENTICOR_CAMERA_DEBUG", 8, 1, L"1"},
    };
    for (const auto& [name, capacity, expected, text] : cases) {
        std::wstring value = L"stale";
        // clang-format off
        EXPECT_EQ(environment.GetEnvironmentVariableW(name, capacity, value), expected) << std::wstring_view(name).size();
        // clang-format on
        EXPECT_EQ(value, text);
        EXPECT_EQ(environment.GetEnvironmentVariable(name, capacity), expected);
    }
}

TEST(MachineFileLock, GivesUpOnALockHeldElsewhereNamingTheMachineFile) {
    const ScratchFolder folder;
    const auto file = folder.path() / "m.json";
    const int holder = ::open((folder.path() / "m.json.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    // clang-format off
    EXPECT_THAT([&] { const MachineFileLock lock(file, std::chrono::milliseconds(50)); },
                ::testing::ThrowsMessage<MachineError>(::testing::HasSubstr("machine file " + file.string() + ": locked by another run")));
    // clang-format on
    ::close(holder);
    const MachineFileLock free(file, std::chrono::milliseconds(50));
}

TEST(CommitNvidiaAtEverySave, TheMachineFileHasTheSavedProfileBeforeTheRunEnds) {
    const ScratchFolder folder;
    const auto file = folder.path() / "m.json";
    std::ofstream(file) << R"({"adapters": [], "nvidia": {}})";
    auto source = LoadMachine(file);
    CommitNvidiaAtEverySave(source);
    auto& store = *source.machine.nvidia;
    nvapi::SessionHandle session = nullptr;
    ASSERT_EQ(store.Initialize(), nvapi::kOk);
    ASSERT_EQ(store.CreateSession(&session), nvapi::kOk);
    ASSERT_EQ(store.LoadSettings(session), nvapi::kOk);
    nvapi::DrsProfileRecord info{};
    info.version = nvapi::kProfileVersion1;
    std::copy_n(u"Saved", 6, info.profileName);
    nvapi::ProfileHandle profile = nullptr;
    ASSERT_EQ(store.CreateProfile(session, &info, &profile), nvapi::kOk);
    ASSERT_EQ(store.SaveSettings(session), nvapi::kOk);
    std::ifstream saved(file);
    EXPECT_EQ(nlohmann::json::parse(saved).at("nvidia").at("profiles").at(0).at("name"), "Saved");
}

}  // namespace
}  // namespace lenticor::sim
