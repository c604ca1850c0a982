#include "desktop/snapshot_codec.h"

#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/text.h"

namespace nimbo {
namespace {

using dcfg::DISPLAYCONFIG_MODE_INFO;
using dcfg::DISPLAYCONFIG_PATH_INFO;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Only the form we write is accepted back: exactly two lower-case digits per byte.
template <typename Record>
Record DecodeRecord(const std::string& hex) {
    if (hex.size() != 2 * sizeof(Record)) {
        throw std::runtime_error("invalid desktop snapshot structure size");
    }
    unsigned char bytes[sizeof(Record)];
    for (std::size_t i = 0; i < sizeof(Record); ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            throw std::runtime_error("invalid desktop snapshot encoding");
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    Record record;
    std::memcpy(&record, bytes, sizeof(Record));
    return record;
}

void CheckModeReference(std::uint32_t index, const std::vector<DISPLAYCONFIG_MODE_INFO>& modes) {
    if (index == dcfg::kInvalidModeIndex)
        return;
    if (index >= modes.size())
        throw std::runtime_error("desktop snapshot mode index out of bounds");
    const std::uint32_t type = modes[index].infoType;
    if (type < dcfg::kModeInfoTypeSource || type > dcfg::kModeInfoTypeDesktopImage) {
        throw std::runtime_error("unsupported desktop mode type");
    }
}

}  // namespace

std::string EncodeSnapshot(const DesktopSnapshot& snapshot) {
    if (snapshot.names.size() != snapshot.paths.size()) {
        throw std::logic_error("desktop snapshot names do not pair with its paths");
    }
    nlohmann::json paths = nlohmann::json::array();
    for (std::size_t i = 0; i < snapshot.paths.size(); ++i) {
        paths.push_back(
            {{"name", lenticor::WideToUtf8(snapshot.names[i])},
             {"raw", lenticor::ToLowerHex(&snapshot.paths[i], sizeof(DISPLAYCONFIG_PATH_INFO))}});
    }
    nlohmann::json modes = nlohmann::json::array();
    for (const auto& mode : snapshot.modes) {
        modes.push_back(lenticor::ToLowerHex(&mode, sizeof(mode)));
    }
    const nlohmann::json document = {{"modes", std::move(modes)}, {"paths", std::move(paths)}};
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

DesktopSnapshot DecodeSnapshot(std::string_view text, SnapshotCheck check) {
    if (text.size() > kMaxSnapshotBytes)
        throw std::runtime_error("desktop snapshot too large");
    return DecodeSnapshotJson(nlohmann::json::parse(text), check);
}

DesktopSnapshot DecodeSnapshotJson(const nlohmann::json& document, SnapshotCheck check) {
    const auto& paths = document.at("paths");
    const auto& modes = document.at("modes");
    if (!paths.is_array() || paths.size() > kMaxSnapshotPaths || !modes.is_array() ||
        modes.size() > kMaxSnapshotModes) {
        throw std::runtime_error("desktop snapshot count invalid");
    }
    DesktopSnapshot snapshot;
    snapshot.paths.reserve(paths.size());
    snapshot.names.reserve(paths.size());
    for (const auto& element : paths) {
        snapshot.paths.push_back(
            DecodeRecord<DISPLAYCONFIG_PATH_INFO>(element.at("raw").get<std::string>()));
        auto name = lenticor::Utf8ToWideStrict(element.at("name").get<std::string>());
        if (!name)
            throw std::runtime_error("invalid UTF-8 in desktop journal");
        const std::size_t units = lenticor::Utf16Length(*name);
        if (units < 1 || units > kMaxTargetNameUnits) {
            throw std::runtime_error("desktop snapshot target name invalid");
        }
        snapshot.names.push_back(std::move(*name));
    }
    snapshot.modes.reserve(modes.size());
    for (const auto& element : modes) {
        snapshot.modes.push_back(DecodeRecord<DISPLAYCONFIG_MODE_INFO>(element.get<std::string>()));
    }
    if (check == SnapshotCheck::RecordsOnly)
        return snapshot;
    for (const auto& path : snapshot.paths) {
        if ((path.flags & dcfg::kPathActiveFlag) == 0 ||
            (path.flags & dcfg::kPathSupportVirtualModeFlag) != 0) {
            throw std::runtime_error("unsupported saved desktop path");
        }
        CheckModeReference(path.sourceInfo.modeInfoIdx, snapshot.modes);
        CheckModeReference(path.targetInfo.modeInfoIdx, snapshot.modes);
    }
    return snapshot;
}

DesktopSnapshot DecodeTopologySnapshot(const DesktopTopology& topology, SnapshotCheck check) {
    if (topology.snapshot.empty())
        return {};
    return DecodeSnapshot(topology.snapshot, check);
}

}  // namespace nimbo
