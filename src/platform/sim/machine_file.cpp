#include "platform/sim/machine_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace lenticor::sim {
namespace {

std::string Describe(const std::filesystem::path& file) {
    return "machine file " + file.string();
}

}  // namespace

void SaveMachineAtomically(const std::filesystem::path& file, const nlohmann::json& document) {
    auto temporary = file;
    temporary += ".tmp";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream << document.dump(2) << '\n';
        stream.flush();
        if (!stream) {
            throw MachineError(Describe(file) + ": cannot write " + temporary.string() + ": " +
                               std::strerror(errno));
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        throw MachineError(Describe(file) + ": cannot replace: " + error.message());
    }
}

MachineSource LoadMachine(const std::optional<std::filesystem::path>& file) {
    MachineSource source;
    source.file = file;
    if (!file) {
        source.document = DefaultMachineDocument();
        source.machine = ParseMachine(source.document);
        return source;
    }
    std::error_code error;
    if (!std::filesystem::exists(*file, error)) {
        SaveMachineAtomically(*file, DefaultMachineDocument());
    }
    std::ifstream stream(*file, std::ios::binary);
    if (!stream) {
        throw MachineError(Describe(*file) + ": cannot read: " + std::strerror(errno));
    }
    std::ostringstream text;
    text << stream.rdbuf();
    try {
        source.document = nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::parse_error& parse) {
        throw MachineError(Describe(*file) + ": not JSON: " + parse.what());
    }
    try {
        source.machine = ParseMachine(source.document);
    } catch (const MachineError& problem) {
        throw MachineError(Describe(*file) + ": " + problem.what());
    }
    return source;
}

void SaveIfChanged(MachineSource& source) {
    if (source.file && source.changed) {
        SaveMachineAtomically(*source.file, source.document);
        source.changed = false;
    }
}

}  // namespace lenticor::sim
