#pragma once
// The simulated machine's foreground window and the process behind it.

#include "platform/processes.h"

namespace lenticor::sim {

struct SimMachine;

class SimProcesses final : public Processes {
  public:
    explicit SimProcesses(SimMachine& machine) : machine_(machine) {}
    std::uint64_t GetForegroundWindow() override;
    std::uint32_t GetWindowThreadProcessId(std::uint64_t window, std::uint32_t& processId) override;
    std::unique_ptr<ProcessObject> OpenProcess(std::uint32_t access,
                                               std::uint32_t processId) override;
    std::unique_ptr<ModuleSnapshot> CreateToolhelp32Snapshot(std::uint32_t flags,
                                                             std::uint32_t processId) override;

  private:
    [[maybe_unused]] SimMachine& machine_;
};

}  // namespace lenticor::sim
