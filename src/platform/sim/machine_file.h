#pragma once
// Where lenticor-sim's machine comes from and where its changes go: the file
// named by LENTICOR_SIM_MACHINE, or the embedded default machine when the
// variable is unset.

#include "platform/sim/sim_machine.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>

namespace lenticor::sim {

struct MachineSource {
    std::optional<std::filesystem::path> file;  // none: the embedded default, never saved
    nlohmann::json document;                    // the description as loaded (and as changed)
    SimMachine machine;
    bool changed = false;  // set by whatever changes the machine's state
};

// Loads the machine named by `file`, first writing the default machine there
// when the file does not exist; without a file, the default machine. Throws
// MachineError whose message names the file and the problem:
//   "machine file /tmp/m.json: /adapters/0/description: missing"
[[nodiscard]] MachineSource LoadMachine(const std::optional<std::filesystem::path>& file);

// Writes `document` to `file` through a temporary file beside it and a
// rename, so a reader sees the old or the new machine, never half of one.
// Throws MachineError.
void SaveMachineAtomically(const std::filesystem::path& file, const nlohmann::json& document);

// Saves the source's document when it has a file and was changed.
void SaveIfChanged(MachineSource& source);

}  // namespace lenticor::sim
