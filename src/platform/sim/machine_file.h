#pragma once
// Where lenticor-sim's machine comes from and where its changes go: the file
// named by LENTICOR_SIM_MACHINE, or the embedded default machine when the
// variable is unset.

#include "platform/sim/sim_machine.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

namespace lenticor::sim {

struct MachineSource {
    std::optional<std::filesystem::path> file;  // none: the embedded default, never saved
    nlohmann::json document;                    // the description as loaded (and as changed)
    SimMachine machine;
};

// Loads the machine named by `file`, first writing the default machine there
// when the file does not exist; without a file, the default machine. Throws
// MachineError whose message names the file and the problem:
//   "machine file /tmp/m.json: /adapters/0/description: missing"
[[nodiscard]] MachineSource LoadMachine(const std::optional<std::filesystem::path>& file);

// The bytes of a machine file as a JSON document. Throws MachineError
// ("not JSON: ...") for anything the JSON library refuses.
[[nodiscard]] nlohmann::json ParseMachineText(std::string_view text);

// Writes `document` to `file` through a temporary file beside it and a
// rename, so a reader sees the old or the new machine, never half of one.
// Throws MachineError.
void SaveMachineAtomically(const std::filesystem::path& file, const nlohmann::json& document);

// Makes this run's changes part of the machine file the way one PC keeps one
// state for all its processes: under the lock beside the file, reads the file
// as other runs may have left it, lets `apply` write this run's areas into it,
// and writes it back; the source's document becomes that result. Without a
// file `apply` changes the source's document only. Throws MachineError.
void CommitMachineChanges(MachineSource& source, const std::function<void(nlohmann::json&)>& apply);

}  // namespace lenticor::sim
