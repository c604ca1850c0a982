#pragma once
// Text conversions between the UTF-16 that Windows speaks and the UTF-8 that
// the result line and standard error carry.
//
// Wide strings are UTF-16 on Windows. In the native (Linux) build wchar_t is 32
// bits; there a wide string may hold code points or UTF-16 code units (surrogate
// pairs), and both convert as Windows would convert the equivalent UTF-16.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lenticor {

// The one UTF-16 -> UTF-8 conversion of the program: on Windows
// WideCharToMultiByte(CP_UTF8, 0, ...) over the whole string. Unpaired
// surrogates become U+FFFD (EF BF BD). Empty input gives "".
[[nodiscard]] std::string WideToUtf8(std::wstring_view text);

// Strict UTF-8 -> wide conversion: nullopt on any invalid sequence (overlong
// forms, surrogates, code points above U+10FFFF, truncated sequences).
[[nodiscard]] std::optional<std::wstring> Utf8ToWideStrict(std::string_view text);

// Number of UTF-16 code units `text` occupies on Windows (limits such as
// "1 to 1024 UTF-16 code units" count these, not wchar_t elements).
[[nodiscard]] std::size_t Utf16Length(std::wstring_view text);

// UTF-16LE bytes as Windows writes them into property and registry buffers,
// one wide character per code unit; an odd last byte is ignored.
[[nodiscard]] std::wstring Utf16LeToWide(std::span<const std::uint8_t> bytes);

// Lower-cases every character with towlower (the comparison rule for display
// IDs and interface paths).
[[nodiscard]] std::wstring ToLowerWide(std::wstring_view text);

// The value of a run of ASCII decimal digits ("0042" -> 42), saturating at the
// largest 64-bit value instead of overflowing; nullopt when `text` is empty or
// holds anything else (no sign, no blanks). Callers bound the length or the
// range themselves.
[[nodiscard]] std::optional<std::uint64_t> DecimalValue(std::string_view text);
[[nodiscard]] std::optional<std::uint64_t> DecimalValue(std::wstring_view text);

// Lower-case hexadecimal text of `size` bytes, two digits per byte in memory
// order ("0123456789abcdef").
[[nodiscard]] std::string ToLowerHex(const void* data, std::size_t size);

}  // namespace lenticor
