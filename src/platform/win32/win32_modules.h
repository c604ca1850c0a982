#pragma once
// The real Windows module loader: a library loaded at run time and its
// exports.

#include "platform/modules.h"

namespace lenticor::win32 {

class Win32ModuleLoader final : public ModuleLoader {
  public:
    std::uint64_t LoadLibraryExW(const std::wstring& name, std::uint32_t flags,
                                 Win32Error& error) override;
    ExportAddress GetProcAddress(std::uint64_t module, const char* name) override;
};

}  // namespace lenticor::win32
