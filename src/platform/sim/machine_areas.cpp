#include "platform/sim/machine_areas.h"

#include "platform/sim/sim_nvidia.h"
#include "platform/sim/sim_reader.h"
#include "platform/sim/sim_readiness.h"
#include "platform/sim/sim_user_registry.h"

namespace lenticor::sim {
namespace {

// A mode or display scale change moves the desktop too: both are written.
bool LayoutChanged(const SimMachine& machine) {
    return machine.desktop.changed || machine.readinessChanged;
}

bool UserRegistryChanged(const SimMachine& machine) {
    return !machine.userRegistryChanges.empty();
}

void ReadRegistryArea(const Reader& root, SimMachine& machine) {
    if (root.Has("registry")) {
        ReadSimRegistry(root.Member("registry"), machine);
    }
}

void ReadDesktopArea(const Reader& root, SimMachine& machine) {
    const auto& document = root.value();
    machine.desktop =
        ParseSimDesktop(document.contains("desktop") ? &document.at("desktop") : nullptr, machine);
}

void ReadDdcArea(const Reader& root, SimMachine& machine) {
    if (root.Has("ddcLog")) {
        ReadSimDdcLog(root.Member("ddcLog"), machine);
    }
    root.Read("realTimeClock", machine.ddc.realTime);
    machine.ddc.realStart = std::chrono::steady_clock::now();
}

void ReadNvidiaArea(const Reader& root, SimMachine& machine) {
    if (root.Has("nvidia")) {
        ReadSimNvidia(root.Member("nvidia"), machine);
    }
}

// The NVIDIA store is written at every SaveSettings (CommitNvidiaAtEverySave)
// and the foreground window is never changed by a run.
constexpr MachineArea kAreas[] = {
    {"cameras and USB devices", &ReadReadinessDevices, &LayoutChanged, &StoreSimReadiness},
    {"registry", &ReadRegistryArea, &UserRegistryChanged, &StoreSimUserRegistry,
     &KeepFlushedSimUserRegistry},
    {"desktop", &ReadDesktopArea, &LayoutChanged, &StoreSimDesktop},
    {"ddc", &ReadDdcArea, &SimDdcNeedsSaving, &StoreSimDdc},
    {"nvidia", &ReadNvidiaArea, nullptr, nullptr},
    {"foreground", &ReadSimForeground, nullptr, nullptr},
    {"file scanner", &ReadSimFileScanner, &SimFileScannerChanged, &StoreSimFileScanner},
};

}  // namespace

std::span<const MachineArea> MachineAreas() {
    return kAreas;
}

}  // namespace lenticor::sim
