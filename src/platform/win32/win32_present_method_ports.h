#pragma once
// The real Windows implementations of the ports the present-method command
// adds: run-time loading of the driver-settings library and the foreground
// window's process.

#include "platform/modules.h"
#include "platform/processes.h"

namespace lenticor::win32 {

class Win32ModuleLoader final : public ModuleLoader {
  public:
    std::uint64_t LoadLibraryExW(const std::wstring& name, std::uint32_t flags,
                                 Win32Error& error) override;
    ExportAddress GetProcAddress(std::uint64_t module, const char* name) override;
};

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
