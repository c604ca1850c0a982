#pragma once
// The per-user registry outlives a run on Windows; in the simulation it lives
// in the machine file's "registry" member, so what one run writes under
// HKEY_CURRENT_USER the next run reads.

#include "platform/sim/sim_machine.h"

#include <nlohmann/json.hpp>

namespace lenticor::sim {

// Writes the HKEY_CURRENT_USER values changed in this run (set or deleted)
// into `document`'s "registry" member, in the format ParseMachine reads: an
// existing key member is found whatever its case; a REG_SZ becomes "string",
// a four-byte REG_DWORD "dword", anything else "binary".
void StoreSimUserRegistry(const SimMachine& machine, nlohmann::json& document);

// A power loss: of the run's HKEY_CURRENT_USER changes only those a
// RegFlushKey wrote to the disk remain, as that flush found them.
void KeepFlushedSimUserRegistry(SimMachine& machine);

}  // namespace lenticor::sim
