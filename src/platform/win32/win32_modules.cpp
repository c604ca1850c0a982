#include "windows_api.h"

#include "win32_modules.h"

namespace lenticor::win32 {

static_assert(moduleapi::kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32);

std::uint64_t Win32ModuleLoader::LoadLibraryExW(const std::wstring& name, std::uint32_t flags,
                                                Win32Error& error) {
    // Never freed: the caller keeps function pointers into it until exit.
    HMODULE module = ::LoadLibraryExW(name.c_str(), nullptr, flags);
    error = module == nullptr ? ::GetLastError() : ERROR_SUCCESS;
    return reinterpret_cast<std::uint64_t>(module);
}

ExportAddress Win32ModuleLoader::GetProcAddress(std::uint64_t module, const char* name) {
    return reinterpret_cast<ExportAddress>(
        ::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

}  // namespace lenticor::win32
