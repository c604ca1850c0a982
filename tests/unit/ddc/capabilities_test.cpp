#include "ddc/capabilities.h"
#include "ddc/ddc_target.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

namespace nimbo {
namespace {

TEST(FindVcpCodeValues, FollowsOnlyTheFirstVcpSectionAndItsFlatLists) {
    const std::string typical =
        "(prot(monitor)type(lcd)cmds(01 02 03 07 0C)vcp(02 04 10 12 14(05 08 0B) 60(0F 11) "
        "D6(01 04 05))mccs_ver(2.2))";
    // Real firmware that writes its codes without blanks.
    const std::string runTogether =
        "vcp(02 04 05 08 10 12 14(05 08 0B) 16 18 1A 52 60(03 04)"
        "6C6E7087ACAEB6C0C6C8C9D6(01 04)DFE4)";
    // What the case shows, the capabilities, the code, its values.
    const std::tuple<const char*, std::string, const char*, std::optional<std::string>> cases[] = {
        {"a typical monitor", typical, "D6", "01 04 05"},
        {"a code without a list is an engaged empty list", "vcp(10 D6(01 04))", "10", ""},
        {"lower-case section and code", "vcp(10 d6(01 04))", "d6", "01 04"},
        {"blanks are normalised", "VCP(D6( 01   04 ))", "D6", "01 04"},
        {"tabs and newlines are blanks", "vcp(\t10\nD6 (01\t04)\r\n)", "D6", "01 04"},
        {"no mccs_ver and no closing of the whole string", "(vcp(D6(01 04))", "D6", "01 04"},
        {"an unterminated list", "VCP(D6(01 04", "D6", std::nullopt},
        {"an unterminated section", "vcp(10 D6(01 04)", "D6", std::nullopt},
        {"VCPNAME( is not VCP(", "VCPNAME(D6(x))", "D6", std::nullopt},
        {"a second section is never read", "vcp(10)vcp(D6(01 04))", "D6", std::nullopt},
        {"D6 outside the section", "cmds(D6(01 04))vcp(10)", "D6", std::nullopt},
        {"0D6 is not D6", "vcp(0D6(01 04))", "D6", std::nullopt},
        {"an empty section", "vcp()D6(01 04)", "D6", std::nullopt},
        {"stray characters are stepped over", "vcp(zz ) D6(01 04))", "D6", std::nullopt},
        {"stray letters before the code", "vcp(zz D6(01 04))", "D6", "01 04"},
        {"too short", "vcp", "D6", std::nullopt},
        {"codes run together, the last takes the list", runTogether, "D6", "01 04"},
        {"a code inside a run has no list", runTogether, "6E", ""},
        {"the code after the run", runTogether, "E4", ""},
        {"an odd run is one code", "vcp(6CD6D(01 04))", "D6", std::nullopt},
        {"a code on its own wins over one in a run", "vcp(6CD6 D6(01 04))", "D6", "01 04"},
    };
    for (const auto& [situation, capabilities, code, values] : cases)
        EXPECT_EQ(FindVcpCodeValues(capabilities, code), values) << situation;
}

TEST(AdvertisesPowerOnAndOff, NeedsTheExactTokens01And04) {
    // clang-format off
    const std::pair<const char*, bool> cases[] = {
        {"vcp(D6(01 04))", true}, {"vcp(D6(04 05 01))", true}, {"vcp(D6(04 05))", false}, {"vcp(D6(1 4))", false},
        {"vcp(D6(001 04))", false}, {"vcp(D6)", false},
        // Values and codes run together, as three makers' firmware writes them.
        {"vcp(60(11 12 0F)626C6E70878DACAEB6C0C6C8C9D6(01 04)DFE0E1)", true},
        {"vcp(CC(0102030405060708090A0D0E121416181E)D6(0104)DF)", true}, {"vcp(D6(0105))", false},
    };
    // clang-format on
    for (const auto& [capabilities, expected] : cases)
        EXPECT_EQ(AdvertisesPowerOnAndOff(capabilities), expected) << capabilities;
}

TEST(FormatCapabilityToken, HexesLowerCaseIdsAndBoundsTheirLength) {
    const std::wstring ascii500(500, L'A'), ascii512(512, L'a'), ascii513(513, L'a');
    std::string a512;  // 512 lower-cased A's in hex
    while (a512.size() < 1024)
        a512 += "61";
    const std::string a500 = a512.substr(24);
    // What the case shows, the device id, the instance id, the arrival, the token.
    // clang-format off
    const std::tuple<const char*, std::wstring, std::wstring, std::uint64_t, std::optional<std::string>> cases[] = {
        {"one letter each", L"A", L"b", 255, "b1:61:62:00000000000000ff"},
        {"non-ASCII ids go through UTF-8", L"\u00E9", L"x", 0x0123456789ABCDEFull, "b1:c3a9:78:0123456789abcdef"},
        {"500 units fit", ascii500, ascii500, 1, "b1:" + a500 + ":" + a500 + ":0000000000000001"},
        {"512 units fit beside a short instance id", ascii512, L"x", 1, "b1:" + a512 + ":78:0000000000000001"},
        {"512 units each make the token too long", ascii512, ascii512, 1, std::nullopt},
        {"513 units are refused", ascii513, L"x", 1, std::nullopt},
        {"no arrival time", L"A", L"b", 0, std::nullopt},
        {"no instance id", L"A", L"", 1, std::nullopt},
    };
    // clang-format on
    for (const auto& [situation, deviceId, instanceId, arrival, token] : cases)
        EXPECT_EQ(FormatCapabilityToken("b1", deviceId, instanceId, arrival), token) << situation;
}

}  // namespace
}  // namespace nimbo
