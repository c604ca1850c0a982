#pragma once
// The simulated machine's run-time loadable libraries: the NVIDIA
// driver-settings library when the machine has an NVIDIA driver (the machine
// file's "nvidia" member, docs/simulated-nvidia.md).

#include "platform/modules.h"

#include <nlohmann/json.hpp>

namespace lenticor::sim {

class Reader;
struct SimMachine;

// The "nvidia" member. Throws MachineError naming the place.
void ReadSimNvidia(const Reader& reader, SimMachine& machine);

// Whether the run saved driver settings that the machine file must keep.
[[nodiscard]] bool SimNvidiaNeedsSaving(const SimMachine& machine);

// Writes the driver's saved settings back; unsaved session changes are lost,
// as they are when a real process ends without NvAPI_DRS_SaveSettings.
void StoreSimNvidia(const SimMachine& machine, nlohmann::json& document);

// nvapi64.dll lives in the system folder of a machine with an NVIDIA driver;
// its only export is nvapi_QueryInterface, which acts on the machine's store.
class SimModuleLoader final : public ModuleLoader {
  public:
    explicit SimModuleLoader(SimMachine& machine) : machine_(machine) {}
    ~SimModuleLoader() override;
    SimModuleLoader(const SimModuleLoader&) = delete;
    SimModuleLoader& operator=(const SimModuleLoader&) = delete;
    std::uint64_t LoadLibraryExW(const std::wstring& name, std::uint32_t flags,
                                 Win32Error& error) override;
    ExportAddress GetProcAddress(std::uint64_t module, const char* name) override;

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
