#pragma once
// The simulated machine's foreground window and the process behind it, for
// --gl-present-method detect. Described in docs/simulated-present-method.md.

#include "platform/processes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lenticor::sim {

class Reader;
struct SimMachine;

struct SimForegroundFaults {
    bool openProcess = false;     // OpenProcess is refused (access denied)
    bool queryImageName = false;  // QueryFullProcessImageNameW fails
    bool snapshot = false;        // CreateToolhelp32Snapshot fails
    // This many snapshots fail with ERROR_BAD_LENGTH before one succeeds.
    std::uint32_t snapshotBadLength = 0;
};

// The window in front and its process; absent from the machine when no
// window has the foreground (a locked or switching desktop).
struct SimForeground {
    // 0 models a window that was destroyed between GetForegroundWindow and
    // GetWindowThreadProcessId.
    std::uint32_t threadId = 0;
    std::uint32_t processId = 0;
    std::wstring imagePath;             // Win32 form, e.g. C:\Games\quake.exe
    std::vector<std::wstring> modules;  // szModule in load order, the exe first
    SimForegroundFaults faults;
};

// The machine's "foreground" member. Throws MachineError naming the place.
void ReadSimForeground(const Reader& root, SimMachine& machine);

class SimProcesses final : public Processes {
  public:
    explicit SimProcesses(SimMachine& machine) : machine_(machine) {}
    std::uint64_t GetForegroundWindow() override;
    std::uint32_t GetWindowThreadProcessId(std::uint64_t window, std::uint32_t& processId) override;
    std::unique_ptr<ProcessObject> OpenProcess(std::uint32_t access,
                                               std::uint32_t processId) override;
    std::unique_ptr<ModuleSnapshot> CreateToolhelp32Snapshot(std::uint32_t flags,
                                                             std::uint32_t processId,
                                                             Win32Error& error) override;

  private:
    // The foreground process when `processId` names it and it may be opened.
    [[nodiscard]] const SimForeground* Process(std::uint32_t processId) const;

    SimMachine& machine_;
    std::uint32_t badLengthAnswered_ = 0;
};

}  // namespace lenticor::sim
