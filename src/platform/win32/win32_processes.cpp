#include "windows_api.h"

#include <tlhelp32.h>

#include "unique_handle.h"
#include "win32_ports.h"

#include <vector>

namespace lenticor::win32 {
namespace {

static_assert(processapi::kProcessQueryLimitedInformation == PROCESS_QUERY_LIMITED_INFORMATION);
static_assert(processapi::kSnapModule == TH32CS_SNAPMODULE);
static_assert(processapi::kSnapModule32 == TH32CS_SNAPMODULE32);
static_assert(kErrorBadLength == ERROR_BAD_LENGTH);

class Win32ProcessObject final : public ProcessObject {
  public:
    explicit Win32ProcessObject(HANDLE process) : process_(process) {}
    bool QueryFullProcessImageNameW(std::uint32_t flags, std::uint32_t capacity,
                                    std::wstring& imageName) override {
        std::vector<WCHAR> buffer(capacity);
        DWORD size = capacity;
        if (capacity == 0 ||
            !::QueryFullProcessImageNameW(process_.get(), flags, buffer.data(), &size)) {
            return false;
        }
        imageName.assign(buffer.data(), size);
        return true;
    }

  private:
    UniqueKernelHandle process_;
};

class Win32ModuleSnapshot final : public ModuleSnapshot {
  public:
    explicit Win32ModuleSnapshot(HANDLE snapshot) : snapshot_(snapshot) {}
    bool Module32FirstW(std::wstring& moduleName) override {
        return Take(::Module32FirstW(snapshot_.get(), Entry()), moduleName);
    }
    bool Module32NextW(std::wstring& moduleName) override {
        return Take(::Module32NextW(snapshot_.get(), Entry()), moduleName);
    }

  private:
    MODULEENTRY32W* Entry() {
        entry_ = {};
        entry_.dwSize = sizeof(entry_);
        return &entry_;
    }
    bool Take(BOOL ok, std::wstring& moduleName) const {
        if (!ok) {
            return false;
        }
        moduleName = entry_.szModule;  // NUL-terminated within MAX_MODULE_NAME32 + 1
        return true;
    }

    UniqueFileHandle snapshot_;  // INVALID_HANDLE_VALUE when none
    MODULEENTRY32W entry_{};
};

// The real Windows processes: the foreground window's process, its image
// name and its module snapshot.
class Win32Processes final : public Processes {
  public:
    std::uint64_t GetForegroundWindow() override {
        return reinterpret_cast<std::uint64_t>(::GetForegroundWindow());
    }

    std::uint32_t GetWindowThreadProcessId(std::uint64_t window,
                                           std::uint32_t& processId) override {
        DWORD process = 0;
        const DWORD thread = ::GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process);
        processId = process;
        return thread;
    }

    std::unique_ptr<ProcessObject> OpenProcess(std::uint32_t access,
                                               std::uint32_t processId) override {
        HANDLE process = ::OpenProcess(access, FALSE, processId);
        if (process == nullptr) {
            return nullptr;
        }
        return std::make_unique<Win32ProcessObject>(process);
    }

    std::unique_ptr<ModuleSnapshot> CreateToolhelp32Snapshot(std::uint32_t flags,
                                                             std::uint32_t processId,
                                                             Win32Error& error) override {
        HANDLE snapshot = ::CreateToolhelp32Snapshot(flags, processId);
        if (snapshot == INVALID_HANDLE_VALUE) {
            error = ::GetLastError();
            return nullptr;
        }
        error = ERROR_SUCCESS;
        return std::make_unique<Win32ModuleSnapshot>(snapshot);
    }
};

}  // namespace

std::unique_ptr<Processes> MakeWin32Processes() {
    return std::make_unique<Win32Processes>();
}

}  // namespace lenticor::win32
