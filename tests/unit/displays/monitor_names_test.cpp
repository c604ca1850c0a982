#include "displays/monitor_names.h"

#include "display_test_machine.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace lenticor::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 128-byte block with the given 18-byte descriptors at 54, 72, 90, 108.
Bytes EdidWithDescriptors(const std::vector<Bytes>& descriptors) {
    Bytes edid(128, 0);
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        std::copy(descriptors[i].begin(), descriptors[i].end(), edid.begin() + 54 + 18 * i);
    }
    return edid;
}

Bytes NameDescriptor(const std::string& text13) {
    Bytes descriptor = {0, 0, 0, 0xFC, 0};
    descriptor.insert(descriptor.end(), text13.begin(), text13.end());
    descriptor.resize(18, 0);
    return descriptor;
}

std::string Hex(const Bytes& bytes) {
    std::string hex;
    for (const auto byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof(digits), "%02x", byte);
        hex += digits;
    }
    return hex;
}

TEST(MonitorNameFromEdid, PicksTheFirstNonBlankNameDescriptor) {
    const Bytes timing = {0x3A, 0x02, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58,
                          0x2C, 0x45, 0x00, 0,    0,    0,    0,    0,    0x1E};
    struct Case {
        const char* situation;
        Bytes edid;
        std::wstring name;
    };
    const Case cases[] = {
        {"name after a timing", EdidWithDescriptors({timing, NameDescriptor("Korvo Nimbo\n  ")}),
         L"Korvo Nimbo"},
        {"blank-only name skipped",
         EdidWithDescriptors({NameDescriptor("   \n         "), NameDescriptor("Second")}),
         L"Second"},
        {"trailing blanks, line feeds and NULs stripped",
         EdidWithDescriptors({NameDescriptor("AB \n \n")}), L"AB"},
        {"text ends at the first NUL",
         EdidWithDescriptors({NameDescriptor(std::string("AB\0CD", 5))}), L"AB"},
        {"all thirteen bytes used", EdidWithDescriptors({NameDescriptor("ABCDEFGHIJKLM")}),
         L"ABCDEFGHIJKLM"},
        {"byte 4 not zero is no name descriptor",
         EdidWithDescriptors({Bytes{0, 0, 0, 0xFC, 1, 'X'}}), L""},
        {"serial-number descriptor is no name", EdidWithDescriptors({Bytes{0, 0, 0, 0xFF, 0, 'X'}}),
         L""},
        {"high bytes keep their value", EdidWithDescriptors({NameDescriptor("Caf\xE9")}),
         std::wstring(L"Caf") + static_cast<wchar_t>(0xE9)},
        {"block shorter than 128 bytes",
         [] {
             auto edid = EdidWithDescriptors({NameDescriptor("Cut")});
             edid.resize(127);
             return edid;
         }(),
         L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nimbo::MonitorNameFromEdid(c.edid), c.name) << c.situation;
    }
}

TEST(ModelCodeFromDeviceId, TakesTheTextBetweenThePrefixAndTheNextBackslash) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001", L"KZV1A07"},
        {L"MONITOR\\Default_Monitor\\{4d36e96e}\\0000", L"Default_Monitor"},
        {L"MONITOR\\KZV1A07", L""},     // no closing backslash
        {L"MONITOR\\\\x", L""},         // empty model
        {L"monitor\\KZV1A07\\x", L""},  // the prefix is matched case-sensitively
        {L"DISPLAY\\KZV1A07\\1", L""},
        {L"MONITOR", L""},
    };
    for (const auto& [id, model] : cases) {
        EXPECT_EQ(nimbo::ModelCodeFromDeviceId(id), model) << std::string(id, id + wcslen(id));
    }
}

// Friendly names on a one-adapter machine whose DXGI description differs from
// the adapter's device string, so each fallback is visible.
TEST(GetMonitorFriendlyName, FallsBackFromEdidToModelToDeviceStrings) {
    const auto named = nlohmann::json{{"name", "Korvo Nimbo"}};
    const auto nameless = Hex(EdidWithDescriptors({}));
    struct Case {
        const char* situation;
        nlohmann::json monitor;
        std::wstring device;
        std::wstring expected;
    };
    const Case cases[] = {
        {"EDID name", Monitor("KZV1A07", "Generic PnP Monitor", named), L"\\\\.\\DISPLAY1",
         L"Korvo Nimbo"},
        {"generic monitor without EDID name gives its model",
         Monitor("KZV2B09", "Generic PnP Monitor", nameless), L"\\\\.\\DISPLAY1", L"KZV2B09"},
        {"generic monitor without EDID at all", Monitor("KZV2B09", "Generic PnP Monitor", nullptr),
         L"\\\\.\\DISPLAY1", L"KZV2B09"},
        {"Default_Monitor gives the adapter's device string",
         Monitor("Default_Monitor", "Generic Non-PnP Monitor", nullptr), L"\\\\.\\DISPLAY1",
         L"Driver Name"},
        {"a monitor driver's own name", Monitor("ABC1234", "Studio Display 27", nameless),
         L"\\\\.\\DISPLAY1", L"Studio Display 27"},
        {"no monitor gives the adapter's device string", nullptr, L"\\\\.\\DISPLAY1",
         L"Driver Name"},
        {"no adapter of that name gives the name itself", nullptr, L"\\\\.\\DISPLAY9",
         L"\\\\.\\DISPLAY9"},
    };
    for (const auto& c : cases) {
        auto document = OneAdapter({Output(0, 0, 1920, 1080, c.monitor)}, "DXGI Description");
        document["adapters"][0]["deviceString"] = "Driver Name";
        DisplayTestMachine pc(document);
        EXPECT_EQ(nimbo::GetMonitorFriendlyName(pc.platform().displayDevices,
                                                pc.platform().registry, c.device),
                  c.expected)
            << c.situation;
    }
}

TEST(ReadEdidMonitorName, FirstInstanceSubkeyWithANameWinsForEveryMonitorOfTheModel) {
    const std::string base = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\KZV1A07\\";
    auto document = OneAdapter({Output(
        0, 0, 1920, 1080, Monitor("KZV1A07", "Generic PnP Monitor", {{"name", "Own Name"}}))});
    document["adapters"][0]["outputs"][0]["monitor"]["instanceId"] = "5&zzz&0&UID9";
    document["registry"] = {
        // Enumerated in name order: no Device Parameters, a short EDID, an
        // EDID without a name, then the winner; the monitor's own key is last.
        {base + "1&aaa", nlohmann::json::object()},
        {base + "2&bbb\\Device Parameters", {{"EDID", {{"binary", "00ffffffffffff00"}}}}},
        {base + "3&ccc\\Device Parameters", {{"EDID", {{"binary", Hex(EdidWithDescriptors({}))}}}}},
        {base + "4&ddd\\Device Parameters",
         {{"EDID", {{"binary", Hex(EdidWithDescriptors({NameDescriptor("Stale Name")}))}}}}},
    };
    DisplayTestMachine pc(document);
    EXPECT_EQ(
        nimbo::ReadEdidMonitorName(pc.platform().registry, L"MONITOR\\KZV1A07\\{4d36e96e}\\0001"),
        L"Stale Name");
    EXPECT_EQ(nimbo::ReadEdidMonitorName(pc.platform().registry, L"MONITOR\\KZV2B09\\x"), L"")
        << "a model without registry key has no name";
    EXPECT_EQ(nimbo::ReadEdidMonitorName(pc.platform().registry, L"MONITOR\\KZV1A07"), L"")
        << "a device id without the closing backslash names no model";
}

TEST(ReadEdidMonitorName, AnEdidWithSeveralExtensionBlocksStillGivesItsName) {
    auto edid = EdidWithDescriptors({NameDescriptor("Big EDID\n")});
    edid.resize(128 * 4, 0x11);
    auto document = OneAdapter(
        {Output(0, 0, 3840, 2160, Monitor("KZV1A07", "Generic PnP Monitor", Hex(edid)))});
    DisplayTestMachine pc(document);
    EXPECT_EQ(nimbo::GetMonitorFriendlyName(pc.platform().displayDevices, pc.platform().registry,
                                            L"\\\\.\\DISPLAY1"),
              L"Big EDID");
}

}  // namespace
}  // namespace lenticor::testing
