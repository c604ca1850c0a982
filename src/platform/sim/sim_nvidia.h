#pragma once
// The simulated machine's run-time loadable libraries: the NVIDIA
// driver-settings library when the machine has an NVIDIA driver.

#include "platform/modules.h"

namespace lenticor::sim {

struct SimMachine;

class SimModuleLoader final : public ModuleLoader {
  public:
    explicit SimModuleLoader(SimMachine& machine) : machine_(machine) {}
    std::uint64_t LoadLibraryExW(const std::wstring& name, std::uint32_t flags,
                                 std::uint32_t& error) override;
    ExportAddress GetProcAddress(std::uint64_t module, const char* name) override;

  private:
    [[maybe_unused]] SimMachine& machine_;
};

}  // namespace lenticor::sim
