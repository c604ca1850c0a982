#include "windows_api.h"

#include "win32_ports.h"

namespace lenticor::win32 {
namespace {

// The real Windows module loader: a library loaded at run time and its
// exports.
class Win32ModuleLoader final : public ModuleLoader {
  public:
    std::uint64_t LoadLibraryExW(const std::wstring& name, std::uint32_t flags,
                                 Win32Error& error) override {
        // Never freed: the caller keeps function pointers into it until exit.
        HMODULE module = ::LoadLibraryExW(name.c_str(), nullptr, flags);
        error = module == nullptr ? ::GetLastError() : ERROR_SUCCESS;
        return reinterpret_cast<std::uint64_t>(module);
    }

    ExportAddress GetProcAddress(std::uint64_t module, const char* name) override {
        return reinterpret_cast<ExportAddress>(
            ::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
    }
};

static_assert(moduleapi::kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32);

}  // namespace

std::unique_ptr<ModuleLoader> MakeWin32ModuleLoader() {
    return std::make_unique<Win32ModuleLoader>();
}

}  // namespace lenticor::win32
