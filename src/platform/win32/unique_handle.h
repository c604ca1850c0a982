#pragma once
// One owner for every kind of Windows handle: a traits type says what "empty"
// is and how to close. Closing keeps GetLastError intact, so an owner going out
// of scope on an error path does not overwrite the error being reported.

#include "windows_api.h"

#include <utility>

namespace lenticor::win32 {

template <class Traits>
class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    [[nodiscard]] Handle get() const { return handle_; }
    [[nodiscard]] explicit operator bool() const { return handle_ != Traits::Empty(); }

    // For APIs that return the handle through an out-parameter.
    [[nodiscard]] Handle* put() {
        reset();
        return &handle_;
    }

    Handle release() { return std::exchange(handle_, Traits::Empty()); }

    void reset(Handle handle = Traits::Empty()) {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty()) {
            const DWORD lastError = ::GetLastError();
            Traits::Close(old);
            ::SetLastError(lastError);
        }
    }

  private:
    Handle handle_ = Traits::Empty();
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Empty() { return nullptr; }
    static void Close(Handle key) { ::RegCloseKey(key); }
};
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

// Kernel handles come in two kinds of "none": null (OpenProcess) and
// INVALID_HANDLE_VALUE (CreateFileW, CreateToolhelp32Snapshot).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// Memory Windows allocated for the caller with LocalAlloc (the security
// descriptor an SDDL string converts to).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Empty() { return nullptr; }
    static void Close(Handle memory) { ::LocalFree(memory); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

}  // namespace lenticor::win32
