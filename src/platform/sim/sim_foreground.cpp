#include "platform/sim/sim_foreground.h"

namespace lenticor::sim {

std::uint64_t SimProcesses::GetForegroundWindow() {
    return 0;
}

std::uint32_t SimProcesses::GetWindowThreadProcessId(std::uint64_t, std::uint32_t& processId) {
    processId = 0;
    return 0;
}

std::unique_ptr<ProcessObject> SimProcesses::OpenProcess(std::uint32_t, std::uint32_t) {
    return nullptr;
}

std::unique_ptr<ModuleSnapshot> SimProcesses::CreateToolhelp32Snapshot(std::uint32_t,
                                                                       std::uint32_t) {
    return nullptr;
}

}  // namespace lenticor::sim
