#include "app/monitor_identity.h"

#include <gtest/gtest.h>

namespace nimbo {
namespace {

TEST(MonitorIdentity, NimboModelIdsMatchWholeIdInAnyCase) {
    for (const wchar_t* id : {L"KZV1A07", L"kzv1a07", L"KzV2b09"}) {
        EXPECT_TRUE(IsNimboModelId(id)) << testing::PrintToString(std::wstring(id));
    }
    for (const wchar_t* id : {L"KZV1A0", L"KZV1A07X", L" KZV1A07", L"", L"KZV3C11"}) {
        EXPECT_FALSE(IsNimboModelId(id)) << testing::PrintToString(std::wstring(id));
    }
}

TEST(MonitorIdentity, ModelFromHardwareIdKeepsCaseAndNeedsMonitorPrefix) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001", L"KZV1A07"},
        {L"MONITOR\\KZV1A07", L"KZV1A07"},
        {L"MoNiToR\\kzv2b09\\7", L"kzv2b09"},
        {L"MONITOR\\\\x", L""},
        {L"DISPLAY\\KZV1A07\\1", L""},
        {L"MONITOR", L""},
    };
    for (const auto& [hardwareId, model] : cases) {
        EXPECT_EQ(ModelIdFromHardwareId(hardwareId), model) << testing::PrintToString(hardwareId);
    }
}

TEST(MonitorIdentity, ModelFromInterfacePathNeedsExactLowerCasePrefixAndSecondHash) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"\\\\?\\display#kzv1a07#5&1a2b3c4d&0&uid4352#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}",
         L"kzv1a07"},
        {"\\\\?\\display#KZV2B09#x", L"KZV2B09"},
        {"\\\\?\\display#kzv1a07", L""},
        {"\\\\?\\DISPLAY#kzv1a07#x", L""},
        {"\\\\?\\display##x", L""},
        {"display#kzv1a07#x", L""},
    };
    for (const auto& [path, model] : cases) {
        EXPECT_EQ(ModelIdFromInterfacePath(path), model) << path;
    }
}

}  // namespace
}  // namespace nimbo
