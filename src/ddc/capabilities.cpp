#include "ddc/capabilities.h"

#include <algorithm>
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
    // Some firmware runs the codes together ("6C6E70...C9D6(01 04)DFE4"): an
    // even run of four or more digits is read as its two-digit codes, the last
    // one taking the list that follows. A code written on its own still wins
    // over one found that way, so no string read correctly before now reads
    // differently.
    std::optional<std::string> runTogether;
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
                return runTogether;
            }
            values = std::string_view(text.data() + k + 1, close - k - 1);
            i = close + 1;
        } else {
            i = j;
        }
        if (found == wanted) {
            return Normalise(values);
        }
        if (!runTogether && found.size() > 2 && found.size() % 2 == 0) {
            for (std::size_t c = 0; c < found.size(); c += 2) {
                if (found.substr(c, 2) == wanted) {
                    runTogether = c + 2 == found.size() ? Normalise(values) : std::string();
                    break;
                }
            }
        }
    }
    return runTogether;
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
        // "0104" is the two values run together, as some firmware writes them.
        const bool runTogether = token.size() > 2 && token.size() % 2 == 0 &&
                                 std::all_of(token.begin(), token.end(), IsHex);
        for (std::size_t c = 0; c < token.size(); c += runTogether ? 2 : token.size()) {
            const auto value = runTogether ? token.substr(c, 2) : token;
            on = on || value == "01";
            off = off || value == "04";
        }
        start = stop + 1;
    }
    return on && off;
}

DisplayPowerCapability CheckPowerCapability(lenticor::MonitorConfiguration& api,
                                            lenticor::Console& console,
                                            lenticor::PhysicalMonitorHandle monitor,
                                            const CancelPoll& cancel) {
    const auto capabilities = ReadCapabilitiesString(api, console, monitor, cancel);
    if (!capabilities) {
        return DisplayPowerCapability::Unavailable;
    }
    return AdvertisesPowerOnAndOff(*capabilities) ? DisplayPowerCapability::Supported
                                                  : DisplayPowerCapability::Unsupported;
}

}  // namespace nimbo
