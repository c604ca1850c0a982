#include "displays/monitor_names.h"

#include "app/text.h"
#include "display_test_machine.h"

#include <gtest/gtest.h>

namespace lenticor::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 128-byte block with the given 18-byte descriptors at 54, 72, 90, 108.
Bytes Edid(const std::vector<Bytes>& descriptors) {
    Bytes edid(128, 0);
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        std::copy(descriptors[i].begin(), descriptors[i].end(), edid.begin() + 54 + 18 * i);
    }
    return edid;
}

Bytes Name(const std::string& text13) {
    Bytes descriptor = {0, 0, 0, 0xFC, 0};
    descriptor.insert(descriptor.end(), text13.begin(), text13.end());
    descriptor.resize(18, 0);
    return descriptor;
}

std::string Hex(const Bytes& bytes) {
    return ToLowerHex(bytes.data(), bytes.size());
}

TEST(MonitorNameFromEdid, PicksTheFirstNonBlankNameDescriptor) {
    const Bytes timing = {0x3A, 0x02, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45};
    auto cut = Edid({Name("Cut")});
    cut.resize(127);
    struct Case {
        Bytes edid;
        std::wstring name;
    };
    const Case cases[] = {
        {.edid = Edid({timing, Name("Korvo Nimbo\n  ")}), .name = L"Korvo Nimbo"},
        {.edid = Edid({Name("   \n         "), Name("Second")}), .name = L"Second"},
        {.edid = Edid({Name("AB \n \n")}), .name = L"AB"},
        {.edid = Edid({Name(std::string("AB\0CD", 5))}), .name = L"AB"},
        {.edid = Edid({Name("ABCDEFGHIJKLM")}), .name = L"ABCDEFGHIJKLM"},
        {.edid = Edid({timing, timing, timing, Name("Last")}), .name = L"Last"},
        {.edid = Edid({Bytes{0, 0, 0, 0xFC, 1, 'X'}}), .name = L""},  // byte 4 must be 0
        {.edid = Edid({Name("Caf\xE9")}), .name = std::wstring(L"Caf") + wchar_t{0xE9}},
        {.edid = cut, .name = L""},
        // Padding after the line feed that real monitors fill with garbage.
        {.edid = Edid({Name("L9W\n4")}), .name = L"L9W"},
        {.edid = Edid({Name("DX-32L220A12\r")}), .name = L"DX-32L220A12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nimbo::MonitorNameFromEdid(c.edid), c.name) << "case " << &c - cases;
    }
}

TEST(ModelCodeFromDeviceId, NeedsTheCaseSensitivePrefixAndAClosingBackslash) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001", L"KZV1A07"},
        {L"MONITOR\\KZV1A07", L""},
        {L"MONITOR\\\\x", L""},
        {L"monitor\\KZV1A07\\x", L""},
        {L"MONITOR", L""},
    };
    for (const auto& [id, model] : cases) {
        EXPECT_EQ(nimbo::ModelCodeFromDeviceId(id), model) << WideToUtf8(id);
    }
}

// The DXGI description differs from the adapter's device string, so each
// fallback is visible.
TEST(GetMonitorFriendlyName, FallsBackFromEdidToModelToDeviceStrings) {
    struct Case {
        nlohmann::json monitor;
        std::wstring device = L"\\\\.\\DISPLAY1";
        std::wstring expected;
    };
    // clang-format off
    const Case cases[] = {
        {.monitor = Monitor("KZV1A07", "Generic PnP Monitor", {{"name", "Korvo Nimbo"}}), .expected = L"Korvo Nimbo"},
        {.monitor = Monitor("KZV2B09", "Generic PnP Monitor", Hex(Edid({}))), .expected = L"KZV2B09"},
        {.monitor = Monitor("Default_Monitor", "Generic Non-PnP Monitor", nullptr), .expected = L"Driver Name"},
        {.monitor = nullptr, .expected = L"Driver Name"},
        {.monitor = nullptr, .device = L"\\\\.\\DISPLAY9", .expected = L"\\\\.\\DISPLAY9"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto document = OneAdapter({Output(0, 0, 1920, 1080, c.monitor)}, "DXGI Description");
        document["adapters"][0]["deviceString"] = "Driver Name";
        ReadinessMachine pc(document);
        EXPECT_EQ(
            nimbo::GetMonitorFriendlyName(pc.ports.displayDevices, pc.ports.registry, c.device),
            c.expected)
            << WideToUtf8(c.expected);
    }
}

TEST(ReadEdidMonitorName, FirstInstanceSubkeyWithANameWinsForEveryMonitorOfTheModel) {
    const std::string base = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\KZV1A07\\";
    // Several extension blocks must not make the query refuse the value.
    auto large = Edid({Name("Stale Name")});
    large.resize(128 * 4, 0x11);
    auto document = OneAdapter({Output(
        0, 0, 1920, 1080, Monitor("KZV1A07", "Generic PnP Monitor", {{"name", "Own Name"}}))});
    document["adapters"][0]["outputs"][0]["monitor"]["instanceId"] = "5&zzz&0&UID9";
    // Enumerated in name order; the monitor's own key comes last.
    document["registry"] = {
        {base + "1&aaa", nlohmann::json::object()},
        {base + "2&bbb\\Device Parameters", {{"EDID", {{"binary", "00ffffffffffff00"}}}}},
        {base + "3&ccc\\Device Parameters", {{"EDID", {{"binary", Hex(Edid({}))}}}}},
        {base + "4&ddd\\Device Parameters", {{"EDID", {{"binary", Hex(large)}}}}},
    };
    ReadinessMachine pc(document);
    auto& registry = pc.ports.registry;
    EXPECT_EQ(nimbo::ReadEdidMonitorName(registry, L"MONITOR\\KZV1A07\\x\\0001"), L"Stale Name");
    EXPECT_EQ(nimbo::ReadEdidMonitorName(registry, L"MONITOR\\KZV2B09\\x"), L"");
    EXPECT_EQ(nimbo::ReadEdidMonitorName(registry, L"MONITOR\\KZV1A07"), L"");
}

}  // namespace
}  // namespace lenticor::testing
