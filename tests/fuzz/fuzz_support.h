#pragma once
// Helpers shared by the fuzz targets: a failed check aborts so libFuzzer keeps
// the input, arguments come from NUL-separated bytes, and UTF-8 validity is
// judged by a checker of our own rather than by the code under test. A target
// is written as FUZZ_TARGET { ... } over `data` and `size`.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor::fuzz {

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

#define FUZZ_TARGET                                                                     \
    static void FuzzOne(const std::uint8_t* data, std::size_t size);                    \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        FuzzOne(data, size);                                                            \
        return 0;                                                                       \
    }                                                                                   \
    static void FuzzOne(const std::uint8_t* data, std::size_t size)

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Length of the well-formed UTF-8 sequence at `i` (the table of well-formed
// byte sequences: lead byte ranges with their allowed second bytes), 0 when
// there is none; `point` is the code point it encodes.
inline std::size_t WellFormedUtf8At(std::string_view text, std::size_t i, std::uint32_t& point) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead <= 0x7F   ? 1
                               : lead < 0xC2  ? 0
                               : lead <= 0xDF ? 2
                               : lead <= 0xEF ? 3
                               : lead <= 0xF4 ? 4
                                              : 0;
    if (length == 0 || text.size() - i < length)
        return 0;
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    point = lead & (length == 1 ? 0x7Fu : 0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if (byte(k) < (k == 1 ? low : 0x80) || byte(k) > (k == 1 ? high : 0xBF))
            return 0;
        point = point << 6 | (byte(k) & 0x3Fu);
    }
    return length;
}

// UTF-8 with every ill-formed byte replaced by U+FFFD, one code point per
// wchar_t, as a command line reaches the program; `valid` tells whether
// none was.
inline std::wstring DecodeLossy(std::string_view text, bool* valid = nullptr) {
    std::wstring out;
    for (std::size_t i = 0, length = 0; i < text.size(); i += std::max<std::size_t>(length, 1)) {
        std::uint32_t point = 0xFFFD;
        length = WellFormedUtf8At(text, i, point);
        if (length == 0 && valid != nullptr)
            *valid = false;
        out.push_back(static_cast<wchar_t>(length == 0 ? 0xFFFD : point));
    }
    return out;
}

inline bool IsValidUtf8(std::string_view text) {
    bool valid = true;
    DecodeLossy(text, &valid);
    return valid;
}

// The arguments after the command name: the input split on NUL bytes.
inline std::vector<std::wstring> SplitArguments(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> arguments;
    for (std::string_view text = AsText(data, size); size != 0; text.remove_prefix(1)) {
        const std::size_t end = std::min(text.find('\0'), text.size());
        arguments.push_back(DecodeLossy(text.substr(0, end)));
        if (end == text.size())
            break;
        text.remove_prefix(end);
    }
    return arguments;
}

// A command's arguments parsed by `parse(arguments, request, message)`; a
// rejection must carry a message the result line can hold.
template <typename Request, typename Parse>
std::optional<Request> ParseArguments(Parse parse, const std::uint8_t* data, std::size_t size) {
    Request request;
    std::string message;
    if (parse(SplitArguments(data, size), request, message))
        return request;
    FUZZ_CHECK(!message.empty() && IsValidUtf8(message));
    return std::nullopt;
}

// What `decode()` returns, or nothing when it rejects the input with one of
// the two exceptions a caller turns into a refusal.
template <typename Rejection, typename OtherRejection = Rejection, typename Decode>
auto Accepted(Decode decode) -> std::optional<decltype(decode())> {
    try {
        return decode();
    } catch (const Rejection&) {
    } catch (const OtherRejection&) {
    }
    return std::nullopt;
}

}  // namespace lenticor::fuzz

namespace fz = lenticor::fuzz;
