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
                                               std::uint32_t flagsAndAttributes) override;
    [[nodiscard]] FileIoResult ReadFile(const FileHandle& file, void* buffer,
                                        std::uint32_t size) override;
    [[nodiscard]] FileIoResult WriteFile(const FileHandle& file, const void* data,
                                         std::uint32_t size) override;
    [[nodiscard]] FileSizeResult GetFileSizeEx(const FileHandle& file) override;
    [[nodiscard]] Win32Error FlushFileBuffers(const FileHandle& file) override;
    [[nodiscard]] Win32Error MoveFileExW(const std::wstring& existing,
                                         const std::wstring& replacement,
                                         std::uint32_t flags) override;
    [[nodiscard]] Win32Error DeleteFileW(const std::wstring& path) override;
    [[nodiscard]] FileInformationResult GetFileInformationByHandle(const FileHandle& file) override;
    [[nodiscard]] Win32Error SetFileRenameInfoNoReplace(const FileHandle& file,
                                                        const std::wstring& newPath) override;
    [[nodiscard]] Win32Error SetFileRenameInfoPosixReplace(const FileHandle& file,
                                                           const std::wstring& newPath) override;
    [[nodiscard]] Win32Error SetEndOfFile(const FileHandle& file) override;
    [[nodiscard]] std::uint32_t GetFinalPathNameByHandleW(const FileHandle& file,
                                                          std::uint32_t bufferLength,
                                                          std::uint32_t flags,
                                                          std::wstring& finalPath) override;
    [[nodiscard]] Win32Error SetFileDispositionInfoDelete(const FileHandle& file) override;
    [[nodiscard]] Win32Error CreateDirectoryW(const std::wstring& path,
                                              const std::wstring* sddl) override;
    [[nodiscard]] FileAttributesResult GetFileAttributesW(const std::wstring& path) override;
    [[nodiscard]] int CompareStringOrdinal(std::wstring_view a, std::wstring_view b,
                                           bool ignoreCase) override;
    [[nodiscard]] std::uint32_t GetFullPathNameW(std::wstring_view fileName,
                                                 std::uint32_t bufferLength,
                                                 std::wstring& fullPath) override;

  protected:
    void CloseHandle(std::uint64_t id) noexcept override;

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
    [[nodiscard]] NativeFile Native(const FileHandle& file) const;
    // SetFileInformationByHandle with a FILE_RENAME_INFO for `infoClass`;
    // `flags` fills ReplaceIfExists (FileRenameInfo) or Flags (FileRenameInfoEx).
    [[nodiscard]] std::uint32_t RenameByHandle(const FileHandle& file, const std::wstring& newPath,
                                               FILE_INFO_BY_HANDLE_CLASS infoClass, DWORD flags);

    std::map<std::uint64_t, UniqueFileHandle> handles_;
    std::uint64_t nextId_ = 1;
};

CreateFileResult Win32Files::CreateFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                         std::uint32_t shareMode, std::uint32_t creationDisposition,
                                         std::uint32_t flagsAndAttributes) {
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

Win32Files::NativeFile Win32Files::Native(const FileHandle& file) const {
    const auto found = file.IsOpen() ? handles_.find(file.Id()) : handles_.end();
    if (found == handles_.end())
        return {};
    return {found->second.get(), kErrorSuccess};
}

FileIoResult Win32Files::ReadFile(const FileHandle& file, void* buffer, std::uint32_t size) {
    const NativeFile native = Native(file);
    if (native.error != kErrorSuccess)
        return {native.error, 0};
    DWORD read = 0;
    if (!::ReadFile(native.handle, buffer, size, &read, nullptr))
        return {::GetLastError(), read};
    return {kErrorSuccess, read};
}

FileIoResult Win32Files::WriteFile(const FileHandle& file, const void* data, std::uint32_t size) {
    const NativeFile native = Native(file);
    if (native.error != kErrorSuccess)
        return {native.error, 0};
    DWORD written = 0;
    if (!::WriteFile(native.handle, data, size, &written, nullptr))
        return {::GetLastError(), written};
    return {kErrorSuccess, written};
}

FileSizeResult Win32Files::GetFileSizeEx(const FileHandle& file) {
    const NativeFile native = Native(file);
    if (native.error != kErrorSuccess)
        return {native.error, 0};
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(native.handle, &size))
        return {::GetLastError(), 0};
    return {kErrorSuccess, static_cast<std::int64_t>(size.QuadPart)};
}

Win32Error Win32Files::FlushFileBuffers(const FileHandle& file) {
    const NativeFile native = Native(file);
    if (native.error != kErrorSuccess)
        return native.error;
    return ::FlushFileBuffers(native.handle) ? kErrorSuccess : ::GetLastError();
}

Win32Error Win32Files::MoveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                   std::uint32_t flags) {
    return ::MoveFileExW(existing.c_str(), replacement.c_str(), flags) ? kErrorSuccess
                                                                       : ::GetLastError();
}

Win32Error Win32Files::DeleteFileW(const std::wstring& path) {
    return ::DeleteFileW(path.c_str()) ? kErrorSuccess : ::GetLastError();
}

FileInformationResult Win32Files::GetFileInformationByHandle(const FileHandle& file) {
    const NativeFile native = Native(file);
    if (native.error != kErrorSuccess)
        return {native.error, 0, 0};
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(native.handle, &information))
        return {::GetLastError(), 0, 0};
    return {kErrorSuccess, information.dwFileAttributes, information.nNumberOfLinks};
}

std::uint32_t Win32Files::RenameByHandle(const FileHandle& file, const std::wstring& newPath,
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
    std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
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
    return ::SetFileInformationByHandle(native.handle, infoClass, info, static_cast<DWORD>(size))
               ? kErrorSuccess
               : ::GetLastError();
}

Win32Error Win32Files::SetFileRenameInfoNoReplace(const FileHandle& file,
                                                  const std::wstring& newPath) {
    return RenameByHandle(file, newPath, FileRenameInfo, 0);
}

Win32Error Win32Files::SetFileRenameInfoPosixReplace(const FileHandle& file,
                                                     const std::wstring& newPath) {
    // Windows 10 1607 and later; older systems and Wine 8 answer
    // ERROR_INVALID_PARAMETER. Only with POSIX semantics may a rename replace
    // a file that others have open ("Existing handles to the replaced file
    // continue to be valid", FILE_RENAME_INFORMATION, learn.microsoft.com
    // windows-hardware/drivers/ddi/ntifs/ns-ntifs-_file_rename_information).
    return RenameByHandle(file, newPath, kFileRenameInfoEx,
                          FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS);
}

std::uint32_t Win32Files::GetFullPathNameW(std::wstring_view fileName, std::uint32_t bufferLength,
                                           std::wstring& fullPath) {
    const std::wstring name(fileName);
    return FetchText(bufferLength, fullPath, [&](WCHAR* buffer) {
        return ::GetFullPathNameW(name.c_str(), bufferLength, buffer, nullptr);
    });
}

Win32Error Win32Files::SetEndOfFile(const FileHandle& file) {
    const NativeFile native = Native(file);
    if (native.error != kErrorSuccess)
        return native.error;
    return ::SetEndOfFile(native.handle) ? kErrorSuccess : ::GetLastError();
}

std::uint32_t Win32Files::GetFinalPathNameByHandleW(const FileHandle& file,
                                                    std::uint32_t bufferLength, std::uint32_t flags,
                                                    std::wstring& finalPath) {
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

Win32Error Win32Files::SetFileDispositionInfoDelete(const FileHandle& file) {
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

Win32Error Win32Files::CreateDirectoryW(const std::wstring& path, const std::wstring* sddl) {
    UniqueLocalMemory descriptor;
    if (sddl != nullptr) {
        PSECURITY_DESCRIPTOR converted = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl->c_str(), SDDL_REVISION_1,
                                                                   &converted, nullptr))
            descriptor.reset(converted);
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor.get();
    attributes.bInheritHandle = FALSE;
    return ::CreateDirectoryW(path.c_str(), descriptor ? &attributes : nullptr) ? kErrorSuccess
                                                                                : ::GetLastError();
}

FileAttributesResult Win32Files::GetFileAttributesW(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {::GetLastError(), attributes};
    return {kErrorSuccess, attributes};
}

int Win32Files::CompareStringOrdinal(std::wstring_view a, std::wstring_view b, bool ignoreCase) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), ignoreCase ? TRUE : FALSE);
}

void Win32Files::CloseHandle(std::uint64_t id) noexcept {
    handles_.erase(id);
}

}  // namespace

std::unique_ptr<Files> MakeWin32Files() {
    return std::make_unique<Win32Files>();
}

}  // namespace lenticor::win32
