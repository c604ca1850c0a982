// What the simulated NVIDIA driver answers that NvapiDriverProfiles never
// asks: wrong record versions, calls out of order, stale handles and clashing
// names.

#include "platform/sim/nvidia_driver_store.h"
#include "platform/sim/sim_machine.h"

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
    // clang-format off
    EXPECT_EQ(store.FindApplicationByName(session, u"VIEWER.exe", &profile, &application), nv::kIncompatibleStructVersion);
    // clang-format on
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

}  // namespace
}  // namespace lenticor::sim
