#pragma once
// Functions looked up at run time instead of imported: some Windows-compatible
// systems (Wine 8) lack a few exports, and one missing static import keeps the
// program from starting at all. Callers answer ERROR_CALL_NOT_IMPLEMENTED (or
// the area's equivalent) when the lookup gives null.

#include "windows_api.h"

namespace lenticor::win32 {

// The export `name` of the already loaded system DLL `module`, or null.
template <class Function>
Function OptionalExport(const wchar_t* module, const char* name) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    if (loaded == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)));
}

}  // namespace lenticor::win32
