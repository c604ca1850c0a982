#include "platform/sim/sim_foreground.h"

#include "app/text.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_reader.h"

#include <utility>

namespace lenticor::sim {
namespace {

// An HWND is an opaque handle; any non-zero value will do, as long as it is
// the same one on every call of the run.
constexpr std::uint64_t kForegroundWindow = 0x000A0312;

// MODULEENTRY32W::szModule holds MAX_MODULE_NAME32 + 1 (256) characters with
// the terminating NUL, so Windows never reports a longer module name.
constexpr std::size_t kMaxModuleName = 255;

class SimProcessObject final : public ProcessObject {
  public:
    explicit SimProcessObject(const SimForeground& process) : process_(process) {}

    bool QueryFullProcessImageNameW(std::uint32_t flags, std::uint32_t capacity,
                                    std::wstring& imageName) override {
        const PortCall counted;
        // Only the Win32 path form (flags 0) is simulated; PROCESS_NAME_NATIVE
        // would answer \Device\HarddiskVolumeN\..., which nothing here asks for.
        if (flags != 0 || process_.faults.queryImageName) {
            return false;
        }
        // The path is written with its terminating NUL, so it needs one unit
        // more than its length; a buffer that cannot hold it fails
        // (ERROR_INSUFFICIENT_BUFFER) without writing a truncated path.
        if (Utf16Length(process_.imagePath) + 1 > capacity) {
            return false;
        }
        imageName = process_.imagePath;
        return true;
    }

  private:
    const SimForeground& process_;
};

// The snapshot copies the module list when it is taken, as toolhelp does;
// modules loaded later are not in it.
class SimModuleSnapshot final : public ModuleSnapshot {
  public:
    explicit SimModuleSnapshot(std::vector<std::wstring> modules) : modules_(std::move(modules)) {}

    bool Module32FirstW(std::wstring& moduleName) override {
        const PortCall counted;
        next_ = 0;
        return Module32NextW(moduleName);
    }
    // Past the end every call fails (ERROR_NO_MORE_FILES).
    bool Module32NextW(std::wstring& moduleName) override {
        const PortCall counted;
        if (next_ >= modules_.size()) {
            return false;
        }
        moduleName = modules_[next_++];
        return true;
    }

  private:
    std::vector<std::wstring> modules_;
    std::size_t next_ = 0;
};

}  // namespace

void ReadSimForeground(const Reader& root, SimMachine& machine) {
    if (!root.Has("foreground")) {
        return;
    }
    const Reader reader = root.Member("foreground");
    reader.ExpectObject({"threadId", "processId", "imagePath", "modules", "faults"});
    SimForeground foreground;
    foreground.threadId = reader.Member("threadId").Unsigned32();
    foreground.processId = reader.Member("processId").Unsigned32();
    foreground.imagePath = reader.Member("imagePath").Text();
    if (foreground.imagePath.empty()) {
        reader.Member("imagePath").Fail("a process always has an image path");
    }
    if (reader.Has("modules")) {
        for (const auto& module : reader.Member("modules").Array()) {
            foreground.modules.push_back(module.Text());
            const auto length = Utf16Length(foreground.modules.back());
            if (length == 0 || length > kMaxModuleName) {
                module.Fail("a module name has 1 to 255 characters");
            }
        }
    }
    if (reader.Has("faults")) {
        const Reader faults = reader.Member("faults");
        faults.ExpectObject({"openProcess", "queryImageName", "snapshot", "snapshotBadLength"});
        faults.Read("openProcess", foreground.faults.openProcess);
        faults.Read("queryImageName", foreground.faults.queryImageName);
        faults.Read("snapshot", foreground.faults.snapshot);
        faults.Read("snapshotBadLength", foreground.faults.snapshotBadLength);
    }
    machine.foreground = std::move(foreground);
}

std::uint64_t SimProcesses::GetForegroundWindow() {
    const PortCall counted;
    return machine_.foreground ? kForegroundWindow : 0;
}

std::uint32_t SimProcesses::GetWindowThreadProcessId(std::uint64_t window,
                                                     std::uint32_t& processId) {
    const PortCall counted;
    processId = 0;
    if (!machine_.foreground || window != kForegroundWindow) {
        return 0;  // not a window: the call fails
    }
    if (machine_.foreground->threadId == 0) {
        return 0;  // the window is gone by now
    }
    processId = machine_.foreground->processId;
    return machine_.foreground->threadId;
}

const SimForeground* SimProcesses::Process(std::uint32_t processId) const {
    // Only the foreground process is described: any other id (0 included,
    // which OpenProcess refuses and a snapshot would take as the caller
    // itself) fails, as an id of no running process does on Windows.
    if (!machine_.foreground || processId == 0 || machine_.foreground->processId != processId) {
        return nullptr;
    }
    return &*machine_.foreground;
}

std::unique_ptr<ProcessObject> SimProcesses::OpenProcess(std::uint32_t, std::uint32_t processId) {
    const PortCall counted;
    const SimForeground* process = Process(processId);
    if (process == nullptr || process->faults.openProcess) {
        return nullptr;
    }
    return std::make_unique<SimProcessObject>(*process);
}

std::unique_ptr<ModuleSnapshot> SimProcesses::CreateToolhelp32Snapshot(std::uint32_t flags,
                                                                       std::uint32_t processId,
                                                                       Win32Error& error) {
    const PortCall counted;
    const SimForeground* process = Process(processId);
    if (process == nullptr || process->faults.snapshot) {
        error = kErrorAccessDenied;
        return nullptr;
    }
    if (badLengthAnswered_ < process->faults.snapshotBadLength) {
        ++badLengthAnswered_;
        error = kErrorBadLength;
        return nullptr;
    }
    error = kErrorSuccess;
    // Without a module flag the snapshot holds no module list, and
    // Module32FirstW fails at once.
    const bool modules = (flags & (processapi::kSnapModule | processapi::kSnapModule32)) != 0;
    return std::make_unique<SimModuleSnapshot>(modules ? process->modules
                                                       : std::vector<std::wstring>{});
}

}  // namespace lenticor::sim
