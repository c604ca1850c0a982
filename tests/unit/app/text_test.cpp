#include "app/text.h"

#include <gtest/gtest.h>

namespace lenticor {
namespace {

TEST(WideToUtf8, ConvertsAsWindowsDoesIncludingUnpairedSurrogates) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const Case cases[] = {
        {L"", ""},
        {L"Korvo Nimbo", "Korvo Nimbo"},
        {L"Bildschirm \u00fc", "Bildschirm \xc3\xbc"},
        {L"\u20ac", "\xe2\x82\xac"},
        // A supplementary character as a surrogate pair of UTF-16 units...
        {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)},
         "\xf0\x9f\x98\x80"},
        // ...unpaired surrogates become U+FFFD.
        {std::wstring{L'a', static_cast<wchar_t>(0xD83D)}, "a\xef\xbf\xbd"},
        {std::wstring{static_cast<wchar_t>(0xDE00), L'b'},
         "\xef\xbf\xbd"
         "b"},
        {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xD83D)},
         "\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToUtf8(c.wide), c.utf8) << testing::PrintToString(c.wide);
    }
}

TEST(Utf8ToWideStrict, AcceptsValidTextAndRejectsEveryMalformedSequence) {
    EXPECT_EQ(Utf8ToWideStrict("a\xc3\xbc\xe2\x82\xac"), std::wstring(L"a\u00fc\u20ac"));
    const auto emoji = Utf8ToWideStrict("\xf0\x9f\x98\x80");
    ASSERT_TRUE(emoji.has_value());
    EXPECT_EQ(WideToUtf8(*emoji), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf16Length(*emoji), 2u);

    const char* invalid[] = {
        "\xc3",              // truncated
        "\xc0\xaf",          // overlong
        "\xed\xa0\x80",      // encoded surrogate
        "\xf4\x90\x80\x80",  // above U+10FFFF
        "\x80",              // stray continuation
        "\xff",
    };
    for (const char* text : invalid) {
        EXPECT_FALSE(Utf8ToWideStrict(text).has_value()) << testing::PrintToString(text);
    }
}

TEST(ToLowerHex, WritesTwoLowerCaseDigitsPerByteInMemoryOrder) {
    const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(ToLowerHex(bytes, sizeof(bytes)), "000fa5ff");
}

}  // namespace
}  // namespace lenticor
