#pragma once
// Port: loading a DLL at run time and finding one of its exports
// (LoadLibraryExW, GetProcAddress). Loaded modules stay loaded for the life
// of the process, so there is no FreeLibrary.

#include "platform/native_codes.h"

#include <cstdint>
#include <string>

namespace lenticor {

namespace moduleapi {
inline constexpr std::uint32_t kLoadLibrarySearchSystem32 = 0x00000800u;
}  // namespace moduleapi

// FARPROC: an export's address, to be cast to the function type the caller
// knows it has.
using ExportAddress = void (*)();

class ModuleLoader {
  public:
    virtual ~ModuleLoader() = default;
    // LoadLibraryExW(name, nullptr, flags): a non-zero module id, or 0 with
    // `error` set to GetLastError.
    [[nodiscard]] virtual std::uint64_t LoadLibraryExW(const std::wstring& name,
                                                       std::uint32_t flags, Win32Error& error) = 0;
    // GetProcAddress(module, name): null when the module has no such export.
    [[nodiscard]] virtual ExportAddress GetProcAddress(std::uint64_t module, const char* name) = 0;
};

}  // namespace lenticor
