#include "platform/sim/machine_file.h"

#include "platform/sim/machine_lock.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace lenticor::sim {
namespace {

std::string Describe(const std::filesystem::path& file) {
    return "machine file " + PathText(file);
}

nlohmann::json ReadDocument(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw MachineError(Describe(file) + ": cannot read: " + std::strerror(errno));
    }
    std::ostringstream text;
    text << stream.rdbuf();
    try {
        return ParseMachineText(text.str());
    } catch (const MachineError& problem) {
        throw MachineError(Describe(file) + ": " + problem.what());
    }
}

}  // namespace

std::string LockedByAnotherRun(const std::filesystem::path& file, std::chrono::milliseconds wait) {
    return Describe(file) + ": locked by another run (gave up after " +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) + " s)";
}

nlohmann::json ParseMachineText(std::string_view text) {
    // The library's base exception, not only parse_error: a number beyond a
    // double (1e500) is reported as out_of_range, and a machine file is
    // unusable for either reason.
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& parse) {
        throw MachineError(std::string("not JSON: ") + parse.what());
    }
}

void SaveMachineAtomically(const std::filesystem::path& file, const nlohmann::json& document) {
    ReplaceMachineFile(file, document.dump(2) + '\n');
}

MachineSource LoadMachine(const std::optional<std::filesystem::path>& file) {
    MachineSource source;
    source.file = file;
    if (!file) {
        source.document = DefaultMachineDocument();
        source.machine = ParseMachine(source.document);
        return source;
    }
    {
        const MachineFileLock lock(*file);
        std::error_code error;
        if (!std::filesystem::exists(*file, error)) {
            SaveMachineAtomically(*file, DefaultMachineDocument());
        }
        source.document = ReadDocument(*file);
    }
    try {
        source.machine = ParseMachine(source.document);
    } catch (const MachineError& problem) {
        throw MachineError(Describe(*file) + ": " + problem.what());
    }
    return source;
}

void CommitMachineChanges(MachineSource& source,
                          const std::function<void(nlohmann::json&)>& apply) {
    if (!source.file) {
        apply(source.document);
        return;
    }
    const MachineFileLock lock(*source.file);
    auto document = ReadDocument(*source.file);
    apply(document);
    SaveMachineAtomically(*source.file, document);
    source.document = std::move(document);
}

}  // namespace lenticor::sim
