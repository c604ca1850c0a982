#include "windows_api.h"

// After <windows.h>, which it needs.
#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "fixed_text.h"
#include "unique_handle.h"
#include "win32_ports.h"

namespace lenticor::win32 {
namespace {

// FileRenameInfoEx (22). MinGW declares it only when _WIN32_WINNT compares
// above an NTDDI-style value, which it never does.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// The real Windows files: each member is the Windows call its port names with
// the caller's flags, nothing more.
class Win32Files final : public Files {
  public:
    Win32Files() = default;
    Win32Files(const Win32Files&) = delete;
    Win32Files& operator=(const Win32Files&) = delete;

    [[nodiscard]] CreateFileResult CreateFileW(const std::wstring& path,
                                               std::uint32_t desiredAccess, std::uint32_t shareMode,
                                               std::uint32_t creationDisposition,
                                               std::uint32_t flagsAndAttributes) override {
        CreateFileResult result;
        UniqueFileHandle handle(::CreateFileW(path.c_str(), desiredAccess, shareMode, nullptr,
                                              creationDisposition, flagsAndAttributes, nullptr));
        if (!handle) {
            result.error = ::GetLastError();
            return result;
        }
        const std::uint64_t id = nextId_++;
        handles_.emplace(id, std::move(handle));
        result.handle = FileHandle(*this, id);
        return result;
    }

    [[nodiscard]] FileIoResult ReadFile(const FileHandle& file, void* buffer,
                                        std::uint32_t size) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return {native.error, 0};
        DWORD read = 0;
        if (!::ReadFile(native.handle, buffer, size, &read, nullptr))
            return {::GetLastError(), read};
        return {kErrorSuccess, read};
    }

    [[nodiscard]] FileIoResult WriteFile(const FileHandle& file, const void* data,
                                         std::uint32_t size) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return {native.error, 0};
        DWORD written = 0;
        if (!::WriteFile(native.handle, data, size, &written, nullptr))
            return {::GetLastError(), written};
        return {kErrorSuccess, written};
    }

    [[nodiscard]] FileSizeResult GetFileSizeEx(const FileHandle& file) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return {native.error, 0};
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(native.handle, &size))
            return {::GetLastError(), 0};
        return {kErrorSuccess, static_cast<std::int64_t>(size.QuadPart)};
    }

    [[nodiscard]] Win32Error FlushFileBuffers(const FileHandle& file) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return native.error;
        return ::FlushFileBuffers(native.handle) ? kErrorSuccess : ::GetLastError();
    }

    [[nodiscard]] Win32Error MoveFileExW(const std::wstring& existing,
                                         const std::wstring& replacement,
                                         std::uint32_t flags) override {
        return ::MoveFileExW(existing.c_str(), replacement.c_str(), flags) ? kErrorSuccess
                                                                           : ::GetLastError();
    }

    [[nodiscard]] Win32Error DeleteFileW(const std::wstring& path) override {
        return ::DeleteFileW(path.c_str()) ? kErrorSuccess : ::GetLastError();
    }

    [[nodiscard]] FileInformationResult GetFileInformationByHandle(
        const FileHandle& file) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return {native.error, 0, 0};
        BY_HANDLE_FILE_INFORMATION information{};
        if (!::GetFileInformationByHandle(native.handle, &information))
            return {::GetLastError(), 0, 0};
        return {kErrorSuccess, information.dwFileAttributes, information.nNumberOfLinks};
    }

    [[nodiscard]] Win32Error SetFileRenameInfoNoReplace(const FileHandle& file,
                                                        const std::wstring& newPath) override {
        return RenameByHandle(file, newPath, FileRenameInfo, 0);
    }

    [[nodiscard]] Win32Error SetFileRenameInfoPosixReplace(const FileHandle& file,
                                                           const std::wstring& newPath) override {
        // Windows 10 1607 and later; older systems and Wine 8 answer
        // ERROR_INVALID_PARAMETER. Only with POSIX semantics may a rename replace
        // a file that others have open ("Existing handles to the replaced file
        // continue to be valid", FILE_RENAME_INFORMATION, learn.microsoft.com
        // windows-hardware/drivers/ddi/ntifs/ns-ntifs-_file_rename_information).
        return RenameByHandle(
            file, newPath, kFileRenameInfoEx,
            FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS);
    }

    [[nodiscard]] Win32Error SetEndOfFile(const FileHandle& file) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return native.error;
        return ::SetEndOfFile(native.handle) ? kErrorSuccess : ::GetLastError();
    }

    [[nodiscard]] std::uint32_t GetFinalPathNameByHandleW(const FileHandle& file,
                                                          std::uint32_t bufferLength,
                                                          std::uint32_t flags,
                                                          std::wstring& finalPath) override {
        finalPath.clear();
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess) {
            // A length result: the error travels the way Windows' own would.
            ::SetLastError(native.error);
            return 0;
        }
        return FetchText(bufferLength, finalPath, [&](WCHAR* buffer) {
            return ::GetFinalPathNameByHandleW(native.handle, buffer, bufferLength, flags);
        });
    }

    [[nodiscard]] Win32Error SetFileDispositionInfoDelete(const FileHandle& file) override {
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return native.error;
        FILE_DISPOSITION_INFO information{};
        information.DeleteFile = TRUE;
        return ::SetFileInformationByHandle(native.handle, FileDispositionInfo, &information,
                                            sizeof information)
                   ? kErrorSuccess
                   : ::GetLastError();
    }

    [[nodiscard]] Win32Error CreateDirectoryW(const std::wstring& path,
                                              const std::wstring* sddl) override {
        UniqueLocalMemory descriptor;
        if (sddl != nullptr) {
            PSECURITY_DESCRIPTOR converted = nullptr;
            if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    sddl->c_str(), SDDL_REVISION_1, &converted, nullptr))
                descriptor.reset(converted);
        }
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = descriptor.get();
        attributes.bInheritHandle = FALSE;
        return ::CreateDirectoryW(path.c_str(), descriptor ? &attributes : nullptr)
                   ? kErrorSuccess
                   : ::GetLastError();
    }

    [[nodiscard]] FileAttributesResult GetFileAttributesW(const std::wstring& path) override {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return {::GetLastError(), attributes};
        return {kErrorSuccess, attributes};
    }

    [[nodiscard]] int CompareStringOrdinal(std::wstring_view a, std::wstring_view b,
                                           bool ignoreCase) override {
        return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                      static_cast<int>(b.size()), ignoreCase ? TRUE : FALSE);
    }

    [[nodiscard]] std::uint32_t GetFullPathNameW(std::wstring_view fileName,
                                                 std::uint32_t bufferLength,
                                                 std::wstring& fullPath) override {
        const std::wstring name(fileName);
        return FetchText(bufferLength, fullPath, [&](WCHAR* buffer) {
            return ::GetFullPathNameW(name.c_str(), bufferLength, buffer, nullptr);
        });
    }

  protected:
    void CloseHandle(std::uint64_t id) noexcept override { handles_.erase(id); }

  private:
    struct NativeFile {
        HANDLE handle = nullptr;
        Win32Error error = kErrorInvalidHandle;
    };
    // The Windows handle behind `file`, or kErrorInvalidHandle when this
    // adapter holds no open handle under its id (closed, moved from, or from
    // another port). Every member taking a FileHandle goes through here and
    // returns that error without calling Windows: a placeholder such as
    // INVALID_HANDLE_VALUE would be read as the current process.
    [[nodiscard]] NativeFile Native(const FileHandle& file) const {
        const auto found = file.IsOpen() ? handles_.find(file.Id()) : handles_.end();
        if (found == handles_.end())
            return {};
        return {found->second.get(), kErrorSuccess};
    }

    // SetFileInformationByHandle with a FILE_RENAME_INFO for `infoClass`;
    // `flags` fills ReplaceIfExists (FileRenameInfo) or Flags (FileRenameInfoEx).
    [[nodiscard]] std::uint32_t RenameByHandle(const FileHandle& file, const std::wstring& newPath,
                                               FILE_INFO_BY_HANDLE_CLASS infoClass, DWORD flags) {
        // FILE_RENAME_INFO ends in the new name; FileNameLength counts its bytes
        // without the terminator, which the buffer still carries.
        const std::size_t nameBytes = newPath.size() * sizeof(WCHAR);
        const std::size_t nameOffset = offsetof(FILE_RENAME_INFO, FileName);
        const std::size_t size =
            std::max(sizeof(FILE_RENAME_INFO), nameOffset + nameBytes + sizeof(WCHAR));
        if (nameBytes > MAXDWORD || size > MAXDWORD)
            return kErrorFilenameExcedRange;
        // Whole 64-bit words, so the HANDLE member is aligned.
        std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) /
                                           sizeof(std::uint64_t));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
        // ReplaceIfExists and Flags share their first byte; FileRenameInfo reads
        // only the BOOLEAN, FileRenameInfoEx the whole DWORD.
        if (infoClass == kFileRenameInfoEx)
            info->Flags = flags;
        else
            info->ReplaceIfExists = flags != 0 ? TRUE : FALSE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(nameBytes);
        std::memcpy(reinterpret_cast<std::byte*>(storage.data()) + nameOffset, newPath.c_str(),
                    nameBytes + sizeof(WCHAR));
        const NativeFile native = Native(file);
        if (native.error != kErrorSuccess)
            return native.error;
        return ::SetFileInformationByHandle(native.handle, infoClass, info,
                                            static_cast<DWORD>(size))
                   ? kErrorSuccess
                   : ::GetLastError();
    }

    std::map<std::uint64_t, UniqueFileHandle> handles_;
    std::uint64_t nextId_ = 1;
};

}  // namespace

std::unique_ptr<Files> MakeWin32Files() {
    return std::make_unique<Win32Files>();
}

}  // namespace lenticor::win32
