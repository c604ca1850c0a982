// What the simulated NVIDIA driver answers that NvapiDriverProfiles never
// asks: wrong record versions, calls out of order, stale handles, clashing
// names, and machine files it must refuse.

#include "platform/sim/nvidia_driver_store.h"
#include "platform/sim/sim_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lenticor::sim {
namespace {

namespace nv = lenticor::nvapi;
using Json = nlohmann::json;

TEST(SimulatedNvidia, AnswersMisuseWithTheDriversStatuses) {
    NvidiaDriverStore store(
        Json::parse(R"({"profiles": [{"name": "Viewer", "applications": ["viewer.exe"]}]})"));
    nv::SessionHandle session = nullptr;
    EXPECT_EQ(store.CreateSession(&session), nv::kApiNotInitialized);
    ASSERT_EQ(store.Initialize(), nv::kOk);
    ASSERT_EQ(store.CreateSession(&session), nv::kOk);
    ASSERT_EQ(store.LoadSettings(session), nv::kOk);

    nv::DrsApplicationRecord application{};
    nv::ProfileHandle profile = nullptr;
    EXPECT_EQ(store.FindApplicationByName(session, u"VIEWER.exe", &profile, &application),
              nv::kIncompatibleStructVersion);
    application.version = nv::kApplicationVersion4;
    ASSERT_EQ(store.FindApplicationByName(session, u"VIEWER.exe", &profile, &application), nv::kOk);
    EXPECT_EQ(std::u16string(application.appName), u"viewer.exe");

    nv::DrsProfileRecord info{};
    info.version = nv::kProfileVersion1;
    std::copy_n(u"viewer", 7, info.profileName);
    nv::ProfileHandle created = nullptr;
    EXPECT_EQ(store.CreateProfile(session, &info, &created), nv::kProfileNameInUse);
    info.profileName[0] = u'\0';
    EXPECT_EQ(store.CreateProfile(session, &info, &created), nv::kProfileNameEmpty);
    EXPECT_EQ(store.DeleteProfileSetting(session, profile, 0x20D690F8u), nv::kSettingNotFound);

    ASSERT_EQ(store.DestroySession(session), nv::kOk);
    EXPECT_EQ(store.GetProfileInfo(session, profile, &info), nv::kInvalidHandle);
    EXPECT_EQ(store.liveSessions(), 0u);
}

TEST(SimulatedNvidia, RejectsMalformedMembersWithTheirPlace) {
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {R"({"profiles": [{"applications": []}]})", "/nvidia/profiles/0/name: missing"},
        {R"({"profiles": [{"name": "A"}, {"name": "a"}]})", "/nvidia/profiles/1/name: profile name used twice"},
        {R"({"profiles": [{"name": "A", "applications": ["x.exe"]}, {"name": "B", "applications": ["X.EXE"]}]})", "/nvidia/profiles/1/applications/0: application listed in two profiles"},
        {R"({"globalSettings": [{"id": "0x20D690F8"}]})", "/nvidia/globalSettings/0: needs a value"},
        {R"({"globalSettings": [{"id": "20D690F8", "value": 1}]})", "/nvidia/globalSettings/0/id: expected a number or hexadecimal text"},
        {R"({"faults": {"NvAPI_DRS_SetSetting": 137}})", "/nvidia/faults/NvAPI_DRS_SetSetting: expected a negative NvAPI status"},
        {R"({"missingInterfaces": ["NvAPI_GPU_GetName"]})", "/nvidia/missingInterfaces/0: not an NvAPI function name"},
    };
    // clang-format on
    for (const auto& [nvidia, problem] : cases) {
        const Json machine = {{"adapters", Json::array()}, {"nvidia", Json::parse(nvidia)}};
        EXPECT_THAT([&] { (void)ParseMachine(machine); },
                    ::testing::ThrowsMessage<MachineError>(::testing::HasSubstr(problem)));
    }
}

}  // namespace
}  // namespace lenticor::sim
