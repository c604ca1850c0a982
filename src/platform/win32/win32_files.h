#pragma once
// The real Windows files: each member is the Windows call its port names with
// the caller's flags, nothing more.

#include <cstdint>
#include <map>

#include "platform/files.h"
#include "unique_handle.h"

namespace lenticor::win32 {

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

}  // namespace lenticor::win32
