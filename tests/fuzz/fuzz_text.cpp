// UTF-8 and UTF-16 conversions. The strict decoder must accept exactly the
// well-formed UTF-8 (judged by an independent table) and re-encode it to the
// same bytes; everything WideToUtf8 produces must be well-formed and decode
// back to the same text.
#include "app/text.h"
#include "fuzz_support.h"

#include <cstring>

FUZZ_TARGET {
    const std::string_view bytes = fz::AsText(data, size);

    const auto wide = lenticor::Utf8ToWideStrict(bytes);
    FUZZ_CHECK(wide.has_value() == fz::IsValidUtf8(bytes));
    if (wide) {
        FUZZ_CHECK(lenticor::WideToUtf8(*wide) == bytes);
        FUZZ_CHECK(*wide == fz::DecodeLossy(bytes));
    }

    // The same bytes as 32-bit wide characters: code points, UTF-16 units
    // (surrogates, paired or not) and values no code point has.
    std::wstring units(size / sizeof(wchar_t), L'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(wchar_t));
    const std::string utf8 = lenticor::WideToUtf8(units);
    FUZZ_CHECK(fz::IsValidUtf8(utf8));
    const auto back = lenticor::Utf8ToWideStrict(utf8);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(lenticor::WideToUtf8(*back) == utf8);
    FUZZ_CHECK(lenticor::Utf16Length(*back) <= 2 * units.size());

    // Little-endian UTF-16 as registry and property buffers hold it.
    const std::wstring utf16 = lenticor::Utf16LeToWide({data, size});
    FUZZ_CHECK(utf16.size() == size / 2);
    FUZZ_CHECK(lenticor::Utf16Length(utf16) == utf16.size());
    const std::string fromUtf16 = lenticor::WideToUtf8(utf16);
    FUZZ_CHECK(fz::IsValidUtf8(fromUtf16));
    FUZZ_CHECK(lenticor::Utf16Length(*lenticor::Utf8ToWideStrict(fromUtf16)) <= utf16.size());
}
