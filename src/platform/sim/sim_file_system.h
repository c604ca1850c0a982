#pragma once
// Situations on the simulated drives that a machine file asks for before a
// run: links (junctions and symbolic links) and hard links. See
// docs/simulated-files.md.

#include "platform/sim/machine_file.h"
#include "platform/sim/sim_files.h"

namespace lenticor::sim {

// Creates C:\ProgramData, which every Windows has, and what the source's
// "fileSystem" member describes, leaving what is
// already there as described alone, so every run may apply it again. Throws
// MachineError naming the member when it is malformed or contradicts the
// drives (a path that exists as something else).
void ApplySimFileSystem(const MachineSource& source, SimFiles& files);

// Lets the machine's file scanner, if it has one, watch `files` on the
// machine's steady clock.
void AttachSimFileScanner(MachineSource& source, SimFiles& files);

}  // namespace lenticor::sim
