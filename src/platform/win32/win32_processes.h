#pragma once
// The real Windows processes: the foreground window's process, its image
// name and its module snapshot.

#include "platform/processes.h"

namespace lenticor::win32 {

class Win32Processes final : public Processes {
  public:
    std::uint64_t GetForegroundWindow() override;
    std::uint32_t GetWindowThreadProcessId(std::uint64_t window, std::uint32_t& processId) override;
    std::unique_ptr<ProcessObject> OpenProcess(std::uint32_t access,
                                               std::uint32_t processId) override;
    std::unique_ptr<ModuleSnapshot> CreateToolhelp32Snapshot(std::uint32_t flags,
                                                             std::uint32_t processId,
                                                             Win32Error& error) override;
};

}  // namespace lenticor::win32
