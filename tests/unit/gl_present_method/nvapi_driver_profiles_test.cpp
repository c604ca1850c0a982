// NvapiDriverProfiles against the simulated driver: which NvAPI statuses
// become which answers, what reaches the driver's store and when, and that
// the settings session never outlives the object. What a saved store reads
// like in the next run is pinned end to end.

#include "gl_present_method/nvapi_driver_profiles.h"
#include "platform/nvapi_records.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_nvidia.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>
#include <vector>

namespace lenticor::gl_present_method {
namespace {

using Json = nlohmann::json;

// A machine whose driver holds `nvidia`; null: no NVIDIA driver.
struct Driver {
    // clang-format off
    explicit Driver(const Json& nvidia)
        : machine(sim::ParseMachine(nvidia.is_null() ? Json{{"adapters", Json::array()}} : Json{{"adapters", Json::array()}, {"nvidia", nvidia}})) {}
    [[nodiscard]] std::size_t LiveSessions() const { return machine.nvidia ? machine.nvidia->liveSessions() : 0; }
    // clang-format on
    sim::SimMachine machine;
    sim::SimModuleLoader modules{machine};
};

const Json kGameProfile = Json::parse(R"({"profiles": [
    {"name": "Korvo Vistel game.exe", "applications": ["game.exe", "launcher.exe"],
     "settings": [{"id": "0x20D690F8", "value": 2}]},
    {"name": "Korvo Vistelpad", "applications": ["pad.exe"],
     "settings": [{"id": "0x20D690F8", "predefinedValue": 1, "value": 3}]},
    {"name": "Shipped", "predefined": true, "applications": ["shipped.exe"],
     "settings": [{"id": "0x20D690F8", "predefinedValue": 1}]},
    {"name": "Plain", "applications": ["plain.exe"]}],
  "globalSettings": [{"id": "0x20D690F8", "value": 5}]})");

Json WithFaults(Json nvidia, const Json& faults) {
    if (!faults.is_null())
        nvidia["faults"] = faults;
    return nvidia;
}

// Records every load: only the system folder may be searched, so a copy
// planted beside the exe never runs with the caller's rights.
struct LoadRecorder final : ModuleLoader {
    explicit LoadRecorder(ModuleLoader& loader) : inner(loader) {}
    // clang-format off
    std::uint64_t LoadLibraryExW(const std::wstring& name, std::uint32_t flags, Win32Error& error) override {
        return loads.emplace_back(name, flags), inner.LoadLibraryExW(name, flags, error);
    }
    ExportAddress GetProcAddress(std::uint64_t module, const char* name) override { return inner.GetProcAddress(module, name); }
    // clang-format on
    ModuleLoader& inner;
    std::vector<std::pair<std::wstring, std::uint32_t>> loads;
};

TEST(NvapiDriverProfiles, OpenAnswersEachFailingStepWithItsCodeAndNeverLeaksTheSession) {
    struct Case {
        const char* name;
        Json nvidia;
        const char* code;
        std::int32_t lastStatus;
    };
    // clang-format off
    const Case cases[] = {
        {"no driver", nullptr, "NVAPI_UNAVAILABLE", 0},
        {"a missing interface", {{"missingInterfaces", {"NvAPI_DRS_GetProfileInfo"}}}, "NVAPI_UNAVAILABLE", 0},
        {"initialize fails", WithFaults({}, {{"NvAPI_Initialize", -6}}), "NVAPI_UNAVAILABLE", 0},
        {"no session", WithFaults({}, {{"NvAPI_DRS_CreateSession", -1}}), "NVAPI_SESSION_FAILED", -1},
        {"settings unreadable", WithFaults({}, {{"NvAPI_DRS_LoadSettings", -3}}), "NVAPI_SESSION_FAILED", -3},
        {"open", Json::object(), "", 0},
    };
    const decltype(LoadRecorder::loads) systemFolderOnly{{L"nvapi64.dll", moduleapi::kLoadLibrarySearchSystem32}};
    std::vector<std::uint32_t> everyInterfaceInOrder;
    for (const auto& entry : nvapi::kInterfaceIds)
        everyInterfaceInOrder.push_back(entry.id);
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Driver driver(c.nvidia);
        LoadRecorder loader(driver.modules);
        {
            NvapiDriverProfiles profiles(loader);
            EXPECT_EQ(profiles.Open(), c.code);
            EXPECT_EQ(profiles.LastStatus(), c.lastStatus);
        }
        EXPECT_EQ(loader.loads, systemFolderOnly);
        EXPECT_EQ(driver.LiveSessions(), 0u) << "the settings session outlived the object";
        if (*c.code == '\0') {
            EXPECT_EQ(driver.machine.nvidia->queried(), everyInterfaceInOrder);
        }
    }
}

TEST(NvapiDriverProfiles, ReadProfileReportsOnlyAValueTheUserStoredInTheExesOwnProfile) {
    // The exe, the driver's faults, then found, ours, shared, error, the value and the status.
    // clang-format off
    const std::tuple<const wchar_t*, Json, bool, bool, bool, bool, std::optional<std::uint32_t>, std::int32_t> cases[] = {
        {L"unknown.exe", {}, false, false, false, false, std::nullopt, 0},
        {L"LAUNCHER.EXE", {}, true, true, true, false, 2u, 0},
        {L"pad.exe", {}, true, false, false, false, 3u, 0},
        {L"shipped.exe", {}, true, false, false, false, std::nullopt, 0},
        {L"plain.exe", {}, true, false, false, false, std::nullopt, 0},
        {L"game.exe", {{"NvAPI_DRS_FindApplicationByName", -3}}, false, false, false, true, std::nullopt, -3},
        {L"game.exe", {{"NvAPI_DRS_GetProfileInfo", -8}}, true, false, false, true, std::nullopt, -8},
        {L"game.exe", {{"NvAPI_DRS_GetSetting", -1}}, true, true, true, true, std::nullopt, -1},
    };
    // clang-format on
    for (const auto& [exe, faults, found, ours, shared, error, value, lastStatus] : cases) {
        SCOPED_TRACE(::testing::Message() << exe << " " << faults.dump());
        Driver driver(WithFaults(kGameProfile, faults));
        NvapiDriverProfiles profiles(driver.modules);
        ASSERT_EQ(profiles.Open(), "");
        const auto state = profiles.ReadProfile(exe);
        EXPECT_EQ(std::tuple(state.found, state.ours, state.shared, state.error, state.value,
                             profiles.LastStatus()),
                  std::tuple(found, ours, shared, error, value, lastStatus));
    }
}

TEST(NvapiDriverProfiles, ChangesFailWithTheDriversStatusAndStopAtTheFirstFailure) {
    enum class Op { Create, Set, DeleteValue, DeleteProfile };
    struct Case {
        const char* name;
        Op op;
        const wchar_t* exe;
        Json faults;
        bool ok;
        std::int32_t lastStatus;
        std::size_t profilesAfterSave;
    };
    // clang-format off
    const Case cases[] = {
        {"set on an unknown exe", Op::Set, L"new.exe", {}, false, -166, 4},
        {"delete an unknown exe's profile", Op::DeleteProfile, L"new.exe", {}, false, -166, 4},
        {"delete a value that is not there", Op::DeleteValue, L"plain.exe", {}, true, 0, 4},
        {"delete a predefined value", Op::DeleteValue, L"shipped.exe", {}, true, 0, 4},
        {"delete a profile", Op::DeleteProfile, L"game.exe", {}, true, 0, 3},
        {"create for an exe another profile holds", Op::Create, L"Plain.exe", {}, false, -167, 5},
        {"create without the right to", Op::Create, L"new.exe", {{"NvAPI_DRS_SetSetting", -137}}, false, -137, 5},
        {"create", Op::Create, L"new.exe", {}, true, 0, 5},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto nvidia = WithFaults(kGameProfile, c.faults);
        Driver driver(nvidia);
        NvapiDriverProfiles profiles(driver.modules);
        ASSERT_EQ(profiles.Open(), "");
        // clang-format off
        const std::function<bool()> run[] = {[&] { return profiles.CreateProfileForExe(c.exe, 7); }, [&] { return profiles.SetValue(c.exe, 7); },
                                             [&] { return profiles.DeleteValue(c.exe); }, [&] { return profiles.DeleteProfile(c.exe); }};
        // clang-format on
        const bool ok = run[static_cast<int>(c.op)]();
        EXPECT_EQ(std::pair(ok, profiles.LastStatus()), std::pair(c.ok, c.lastStatus));
        EXPECT_EQ(driver.machine.nvidia->Document(), sim::NvidiaDriverStore(nvidia).Document())
            << "a change reached the driver's store before Save";
        ASSERT_TRUE(profiles.Save());
        EXPECT_EQ(driver.machine.nvidia->Document()["profiles"].size(), c.profilesAfterSave);
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
