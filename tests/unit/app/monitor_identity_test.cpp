#include "app/monitor_identity.h"

#include <gtest/gtest.h>

namespace nimbo {
namespace {

TEST(MonitorIdentity, NimboModelIdsMatchWholeIdInAnyCase) {
    struct Case {
        const wchar_t* id;
        bool nimbo;
    };
    const Case cases[] = {
        {L"KZV1A07", true},   {L"kzv1a07", true},   {L"KzV2b09", true}, {L"KZV1A0", false},
        {L"KZV1A07X", false}, {L" KZV1A07", false}, {L"", false},       {L"KZV3C11", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNimboModelId(c.id), c.nimbo)
            << "model id \"" << testing::PrintToString(c.id) << "\"";
    }
}

TEST(MonitorIdentity, ModelFromHardwareIdKeepsCaseAndNeedsMonitorPrefix) {
    struct Case {
        const wchar_t* hardwareId;
        const wchar_t* model;
    };
    const Case cases[] = {
        {L"MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001", L"KZV1A07"},
        {L"MONITOR\\KZV1A07", L"KZV1A07"},
        {L"monitor\\kzv2b09\\x", L"kzv2b09"},
        {L"MoNiToR\\ABC1234\\7", L"ABC1234"},
        {L"MONITOR\\", L""},
        {L"MONITOR\\\\x", L""},
        {L"DISPLAY\\KZV1A07\\1", L""},
        {L"MONITOR", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModelIdFromHardwareId(c.hardwareId), c.model)
            << testing::PrintToString(std::wstring(c.hardwareId));
    }
}

TEST(MonitorIdentity, ModelFromInterfacePathNeedsExactLowerCasePrefixAndSecondHash) {
    struct Case {
        const char* path;
        const wchar_t* model;
    };
    const Case cases[] = {
        {"\\\\?\\display#kzv1a07#5&1a2b3c4d&0&uid4352#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}",
         L"kzv1a07"},
        {"\\\\?\\display#KZV2B09#x", L"KZV2B09"},
        {"\\\\?\\display#kzv1a07", L""},
        {"\\\\?\\DISPLAY#kzv1a07#x", L""},
        {"\\\\?\\display##x", L""},
        {"display#kzv1a07#x", L""},
        {"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModelIdFromInterfacePath(c.path), c.model) << c.path;
    }
}

}  // namespace
}  // namespace nimbo
