#include "ddc/capabilities.h"

#include <cctype>

namespace nimbo {
namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (auto& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Blanks trimmed at both ends and each inner run of them made one space.
std::string Normalise(std::string_view values) {
    std::string normal;
    bool pendingSpace = false;
    for (const char c : values) {
        if (IsSpace(c)) {
            pendingSpace = !normal.empty();
            continue;
        }
        if (pendingSpace) {
            normal.push_back(' ');
            pendingSpace = false;
        }
        normal.push_back(c);
    }
    return normal;
}

}  // namespace

std::optional<std::string> FindVcpCodeValues(std::string_view capabilities, std::string_view code) {
    const std::string text = Upper(capabilities);
    const std::string wanted = Upper(code);
    const auto vcp = text.find("VCP(");
    if (text.size() < 4 || vcp == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t open = vcp + 3;
    std::size_t end = std::string::npos;
    int depth = 0;
    for (std::size_t j = open; j < text.size() && end == std::string::npos; ++j) {
        if (text[j] == '(') {
            ++depth;
        } else if (text[j] == ')') {
            if (depth == 1) {
                end = j;
            } else {
                --depth;
            }
        }
    }
    if (end == std::string::npos || end == open + 1) {
        return std::nullopt;
    }
    for (std::size_t i = open + 1; i < end;) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < end && IsHex(text[j])) {
            ++j;
        }
        if (j == i) {
            ++i;  // a stray character the grammar has no place for
            continue;
        }
        const std::string_view found(text.data() + i, j - i);
        std::size_t k = j;
        while (k < end && IsSpace(text[k])) {
            ++k;
        }
        std::string_view values;
        if (k < end && text[k] == '(') {
            // Lists do not nest: the first closing parenthesis ends one.
            const auto close = text.find(')', k + 1);
            if (close == std::string::npos || close > end) {
                return std::nullopt;
            }
            values = std::string_view(text.data() + k + 1, close - k - 1);
            i = close + 1;
        } else {
            i = j;
        }
        if (found == wanted) {
            return Normalise(values);
        }
    }
    return std::nullopt;
}

bool AdvertisesPowerOnAndOff(std::string_view capabilities) {
    const auto values = FindVcpCodeValues(capabilities, "D6");
    if (!values) {
        return false;
    }
    bool on = false;
    bool off = false;
    for (std::size_t start = 0; start < values->size();) {
        auto stop = values->find(' ', start);
        stop = stop == std::string::npos ? values->size() : stop;
        const std::string_view token(values->data() + start, stop - start);
        on = on || token == "01";
        off = off || token == "04";
        start = stop + 1;
    }
    return on && off;
}

DisplayPowerCapability CheckPowerCapability(lenticor::Platform& platform,
                                            lenticor::PhysicalMonitorHandle monitor,
                                            const CancelPoll& cancel) {
    const auto capabilities = ReadCapabilitiesString(platform, monitor, cancel);
    if (!capabilities) {
        return DisplayPowerCapability::Unavailable;
    }
    return AdvertisesPowerOnAndOff(*capabilities) ? DisplayPowerCapability::Supported
                                                  : DisplayPowerCapability::Unsupported;
}

}  // namespace nimbo
