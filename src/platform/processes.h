#pragma once
// Port: the foreground window's process, its image name and its loaded
// modules (GetForegroundWindow, GetWindowThreadProcessId, OpenProcess,
// QueryFullProcessImageNameW, the toolhelp module snapshot). Process handles
// and snapshots are objects; destroying one closes it.

#include "platform/native_codes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lenticor {

namespace processapi {
inline constexpr std::uint32_t kProcessQueryLimitedInformation = 0x1000;
inline constexpr std::uint32_t kSnapModule = 0x00000008;
inline constexpr std::uint32_t kSnapModule32 = 0x00000010;
}  // namespace processapi

class ProcessObject {
  public:
    virtual ~ProcessObject() = default;  // CloseHandle
    // QueryFullProcessImageNameW(process, flags, buffer of `capacity`
    // characters, size): false on failure (including a path that does not
    // fit), otherwise `imageName` holds the path.
    [[nodiscard]] virtual bool QueryFullProcessImageNameW(std::uint32_t flags,
                                                          std::uint32_t capacity,
                                                          std::wstring& imageName) = 0;
};

class ModuleSnapshot {
  public:
    virtual ~ModuleSnapshot() = default;  // CloseHandle
    // Module32FirstW / Module32NextW: false past the last module; otherwise
    // `moduleName` is the entry's szModule.
    [[nodiscard]] virtual bool Module32FirstW(std::wstring& moduleName) = 0;
    [[nodiscard]] virtual bool Module32NextW(std::wstring& moduleName) = 0;
};

class Processes {
  public:
    virtual ~Processes() = default;
    // GetForegroundWindow: an opaque window id, 0 when there is none.
    [[nodiscard]] virtual std::uint64_t GetForegroundWindow() = 0;
    // GetWindowThreadProcessId: the thread id (0 on failure) and the process id.
    [[nodiscard]] virtual std::uint32_t GetWindowThreadProcessId(std::uint64_t window,
                                                                 std::uint32_t& processId) = 0;
    // OpenProcess(access, FALSE, processId): null on failure.
    [[nodiscard]] virtual std::unique_ptr<ProcessObject> OpenProcess(std::uint32_t access,
                                                                     std::uint32_t processId) = 0;
    // CreateToolhelp32Snapshot(flags, processId): null on failure, with
    // `error` set to GetLastError.
    [[nodiscard]] virtual std::unique_ptr<ModuleSnapshot> CreateToolhelp32Snapshot(
        std::uint32_t flags, std::uint32_t processId, Win32Error& error) = 0;
};

}  // namespace lenticor
