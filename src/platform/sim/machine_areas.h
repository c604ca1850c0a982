#pragma once
// The areas of the machine file beside its adapters: how each is read, and
// whether and how a run writes it back. Adding an area is one row.

#include "platform/sim/sim_machine.h"

#include <nlohmann/json.hpp>

#include <span>

namespace lenticor::sim {

class Reader;

struct MachineArea {
    const char* name;
    // Reads the area from the document's root; throws MachineError.
    void (*read)(const Reader& root, SimMachine& machine);
    // Whether the run changed the area; null: the run never writes it at its
    // end.
    bool (*changed)(const SimMachine& machine);
    void (*write)(const SimMachine& machine, nlohmann::json& document);
    // Takes back what a power loss loses of the run's changes to the area;
    // null: it loses none.
    void (*powerLoss)(SimMachine& machine) = nullptr;
};

// In the order they are read (the first bad area names the problem) and
// written.
[[nodiscard]] std::span<const MachineArea> MachineAreas();

}  // namespace lenticor::sim
