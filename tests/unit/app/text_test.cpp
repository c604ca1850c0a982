#include "app/text.h"

#include <gtest/gtest.h>

namespace lenticor {
namespace {

TEST(WideToUtf8, ConvertsAsWindowsDoesIncludingUnpairedSurrogates) {
    const auto hi = static_cast<wchar_t>(0xD83D);
    const auto lo = static_cast<wchar_t>(0xDE00);
    const std::pair<std::wstring, std::string> cases[] = {
        {L"", ""},
        {L"K \u00fc\u20ac", "K \xc3\xbc\xe2\x82\xac"},
        {std::wstring{hi, lo}, "\xf0\x9f\x98\x80"},
        {std::wstring{L'a', hi}, "a\xef\xbf\xbd"},
        {std::wstring{lo, L'b'}, "\xef\xbf\xbd\x62"},  // U+FFFD, then "b"
        {std::wstring{hi, hi}, "\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& [wide, utf8] : cases) {
        EXPECT_EQ(WideToUtf8(wide), utf8) << testing::PrintToString(wide);
    }
}

TEST(Utf8ToWideStrict, AcceptsValidTextAndRejectsEveryMalformedSequence) {
    EXPECT_EQ(Utf8ToWideStrict("a\xc3\xbc\xe2\x82\xac"), std::wstring(L"a\u00fc\u20ac"));
    const auto emoji = Utf8ToWideStrict("\xf0\x9f\x98\x80");
    ASSERT_TRUE(emoji.has_value());
    EXPECT_EQ(WideToUtf8(*emoji), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf16Length(*emoji), 2u);
    // Truncated, overlong, encoded surrogate, above U+10FFFF, stray continuation.
    for (const char* text :
         {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80", "\xff"}) {
        EXPECT_FALSE(Utf8ToWideStrict(text).has_value()) << testing::PrintToString(text);
    }
}

TEST(ToLowerHex, WritesTwoLowerCaseDigitsPerByteInMemoryOrder) {
    const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(ToLowerHex(bytes, sizeof(bytes)), "000fa5ff");
}

}  // namespace
}  // namespace lenticor
