#pragma once
// Hexadecimal numbers as machine files and driver stores write them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace lenticor::sim {

[[nodiscard]] inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hexadecimal digits in either letter case, e.g. "D6"; nullopt for
// anything else.
[[nodiscard]] inline std::optional<std::uint32_t> ParseHexDigits(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// "0x" or "0X" and 1 to 8 hexadecimal digits, e.g. "0x887A0004".
[[nodiscard]] inline std::optional<std::uint32_t> ParseHexCode(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
        return std::nullopt;
    }
    return ParseHexDigits(text.substr(2));
}

}  // namespace lenticor::sim
