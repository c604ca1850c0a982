#include "platform/sim/sim_edid.h"

#include <algorithm>

namespace lenticor::sim {
namespace {

bool IsHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

unsigned HexValue(wchar_t c) {
    if (c <= L'9') {
        return static_cast<unsigned>(c - L'0');
    }
    return static_cast<unsigned>((c | 0x20) - L'a' + 10);
}

}  // namespace

std::vector<std::uint8_t> BuildEdid(const std::wstring& modelId, const std::string& name,
                                    std::uint32_t width, std::uint32_t height,
                                    std::uint32_t refreshRate) {
    std::vector<std::uint8_t> edid(128, 0);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), edid.begin());

    const bool wellFormed =
        modelId.size() == 7 &&
        std::all_of(modelId.begin(), modelId.begin() + 3,
                    [](wchar_t c) { return (c | 0x20) >= L'a' && (c | 0x20) <= L'z'; }) &&
        std::all_of(modelId.begin() + 3, modelId.end(), IsHex);
    if (wellFormed) {
        // Three letters in five bits each (A = 1), big-endian; the product
        // code little-endian.
        unsigned packed = 0;
        for (int i = 0; i < 3; ++i) {
            packed = packed << 5 | (static_cast<unsigned>((modelId[i] | 0x20) - L'a') + 1);
        }
        edid[8] = static_cast<std::uint8_t>(packed >> 8);
        edid[9] = static_cast<std::uint8_t>(packed & 0xFF);
        unsigned product = 0;
        for (int i = 3; i < 7; ++i) {
            product = product << 4 | HexValue(modelId[i]);
        }
        edid[10] = static_cast<std::uint8_t>(product & 0xFF);
        edid[11] = static_cast<std::uint8_t>(product >> 8);
    }
    edid[16] = 1;   // week
    edid[17] = 34;  // 1990 + 34
    edid[18] = 1;   // EDID 1.4
    edid[19] = 4;
    edid[20] = 0xA5;  // digital, 8 bits per colour, DisplayPort
    edid[21] = 60;    // cm
    edid[22] = 34;
    edid[23] = 120;  // gamma 2.2
    edid[24] = 0x06;
    for (int i = 38; i < 54; ++i) {
        edid[static_cast<std::size_t>(i)] = 0x01;  // unused standard timings
    }

    // Detailed timing: only the active size and a plausible pixel clock
    // matter to anyone reading it back.
    const std::uint64_t clock10kHz = std::min<std::uint64_t>(
        65535, std::uint64_t{width} * height * std::max(refreshRate, 1u) / 10000 * 11 / 10);
    const unsigned hActive = std::min(width, 4095u);
    const unsigned vActive = std::min(height, 4095u);
    const unsigned hBlank = 160;
    const unsigned vBlank = 60;
    std::uint8_t* timing = &edid[54];
    timing[0] = static_cast<std::uint8_t>(clock10kHz & 0xFF);
    timing[1] = static_cast<std::uint8_t>(clock10kHz >> 8);
    timing[2] = static_cast<std::uint8_t>(hActive & 0xFF);
    timing[3] = static_cast<std::uint8_t>(hBlank & 0xFF);
    timing[4] = static_cast<std::uint8_t>((hActive >> 8) << 4 | (hBlank >> 8));
    timing[5] = static_cast<std::uint8_t>(vActive & 0xFF);
    timing[6] = static_cast<std::uint8_t>(vBlank & 0xFF);
    timing[7] = static_cast<std::uint8_t>((vActive >> 8) << 4 | (vBlank >> 8));
    timing[8] = 48;
    timing[9] = 32;
    timing[10] = 0x35;
    timing[17] = 0x1A;

    std::uint8_t* nameDescriptor = &edid[72];
    nameDescriptor[3] = 0xFC;
    std::fill(nameDescriptor + 5, nameDescriptor + 18, static_cast<std::uint8_t>(' '));
    const std::size_t length = std::min<std::size_t>(name.size(), 13);
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length), nameDescriptor + 5);
    if (length < 13) {
        nameDescriptor[5 + length] = '\n';
    }

    std::uint8_t* range = &edid[90];
    range[3] = 0xFD;
    range[5] = 24;
    range[6] = 75;
    range[7] = 30;
    range[8] = 160;
    range[9] = 60;
    range[11] = '\n';
    std::fill(range + 12, range + 18, static_cast<std::uint8_t>(' '));

    edid[108 + 3] = 0x10;  // dummy descriptor

    unsigned sum = 0;
    for (std::size_t i = 0; i < 127; ++i) {
        sum += edid[i];
    }
    edid[127] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
    return edid;
}

}  // namespace lenticor::sim
