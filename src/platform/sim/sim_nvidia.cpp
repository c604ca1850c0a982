#include "platform/sim/sim_nvidia.h"

#include "app/text.h"
#include "platform/sim/nvapi_entry.h"
#include "platform/sim/nvidia_driver_store.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_reader.h"

#include <cstring>

namespace lenticor::sim {
namespace {

// Module handles are the image's base address; any non-zero value will do.
constexpr std::uint64_t kNvapiModule = 0x00007FFB'2C400000u;

}  // namespace

void ReadSimNvidia(const Reader& reader, SimMachine& machine) {
    try {
        machine.nvidia.emplace(reader.value());
    } catch (const NvidiaStoreError& error) {
        throw MachineError(reader.path() + error.what());
    }
}

bool SimNvidiaNeedsSaving(const SimMachine& machine) {
    return machine.nvidia && machine.nvidia->saves() > 0;
}

void StoreSimNvidia(const SimMachine& machine, nlohmann::json& document) {
    if (SimNvidiaNeedsSaving(machine)) {
        document["nvidia"] = machine.nvidia->Document();
    }
}

SimModuleLoader::~SimModuleLoader() {
    if (machine_.nvidia && NvapiEntryStore() == &*machine_.nvidia) {
        SetNvapiEntryStore(nullptr);
    }
}

std::uint64_t SimModuleLoader::LoadLibraryExW(const std::wstring& name, std::uint32_t,
                                              Win32Error& error) {
    const PortCall counted;
    // File names compare case-insensitively on Windows. Whatever the search
    // flags, the only copy is the one in the system folder.
    if (!machine_.nvidia || ToLowerWide(name) != L"nvapi64.dll") {
        error = kErrorModNotFound;
        return 0;
    }
    SetNvapiEntryStore(&*machine_.nvidia);
    error = 0;
    return kNvapiModule;
}

ExportAddress SimModuleLoader::GetProcAddress(std::uint64_t module, const char* name) {
    const PortCall counted;
    // Export names are case-sensitive.
    if (module != kNvapiModule || name == nullptr ||
        std::strcmp(name, "nvapi_QueryInterface") != 0) {
        return nullptr;
    }
    return reinterpret_cast<ExportAddress>(&NvapiQueryInterface);
}

}  // namespace lenticor::sim
