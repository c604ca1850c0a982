#pragma once
// Port: the Win32 file calls of the journal store, one member per call, with
// the Windows flag values and error numbers in portable form. Every failure is
// reported as the number GetLastError would give; handles exist for portable
// code only as FileHandle, which closes itself through the port that opened it.
//
// The member names are the Windows function names. Only the "W" forms have
// names that <windows.h> does not turn into macros, hence CreateFileW rather
// than CreateFile.

#include "platform/native_codes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace lenticor {

namespace fileapi {

// dwDesiredAccess
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kDelete = 0x00010000u;
inline constexpr std::uint32_t kFileReadAttributes = 0x80u;

// dwShareMode
inline constexpr std::uint32_t kShareNone = 0;
inline constexpr std::uint32_t kShareRead = 0x1;
inline constexpr std::uint32_t kShareWrite = 0x2;
inline constexpr std::uint32_t kShareDelete = 0x4;

// dwCreationDisposition
inline constexpr std::uint32_t kCreateNew = 1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kTruncateExisting = 5;

// dwFlagsAndAttributes and BY_HANDLE_FILE_INFORMATION::dwFileAttributes
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kFlagOpenReparsePoint = 0x00200000u;
inline constexpr std::uint32_t kFlagBackupSemantics = 0x02000000u;

// GetFileAttributesW's failure value.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// CompareStringOrdinal's answers (CSTR_*).
inline constexpr int kCstrLessThan = 1;
inline constexpr int kCstrEqual = 2;
inline constexpr int kCstrGreaterThan = 3;

// MoveFileExW
inline constexpr std::uint32_t kMoveReplaceExisting = 0x1;
inline constexpr std::uint32_t kMoveWriteThrough = 0x8;

}  // namespace fileapi

class Files;

// An open file. Move-only; closes through its port when it goes away, so no
// path of the caller can leak an OS handle.
class FileHandle {
  public:
    FileHandle() = default;
    FileHandle(Files& files, std::uint64_t id) : files_(&files), id_(id) {}
    FileHandle(FileHandle&& other) noexcept : files_(other.files_), id_(other.id_) {
        other.files_ = nullptr;
        other.id_ = 0;
    }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Close(); }

    [[nodiscard]] bool IsOpen() const { return files_ != nullptr; }
    // The adapter's key for this handle; meaningless to anyone else.
    [[nodiscard]] std::uint64_t Id() const { return id_; }
    void Close();

  private:
    Files* files_ = nullptr;
    std::uint64_t id_ = 0;
};

struct CreateFileResult {
    FileHandle handle;  // open on success
    Win32Error error = kErrorSuccess;
};

struct FileIoResult {
    Win32Error error = kErrorSuccess;
    std::uint32_t bytes = 0;  // bytes read or written
};

struct FileSizeResult {
    Win32Error error = kErrorSuccess;
    std::int64_t size = 0;
};

struct FileInformationResult {
    Win32Error error = kErrorSuccess;
    std::uint32_t attributes = 0;
    std::uint32_t numberOfLinks = 0;  // nNumberOfLinks
};

struct FileAttributesResult {
    Win32Error error = kErrorSuccess;  // set when Windows gives INVALID_FILE_ATTRIBUTES
    std::uint32_t attributes = fileapi::kInvalidFileAttributes;
};

class Files {
  public:
    virtual ~Files() = default;

    [[nodiscard]] virtual CreateFileResult CreateFileW(const std::wstring& path,
                                                       std::uint32_t desiredAccess,
                                                       std::uint32_t shareMode,
                                                       std::uint32_t creationDisposition,
                                                       std::uint32_t flagsAndAttributes) = 0;
    // Reads from the handle's file pointer; fewer bytes than asked only at end of file.
    [[nodiscard]] virtual FileIoResult ReadFile(const FileHandle& file, void* buffer,
                                                std::uint32_t size) = 0;
    [[nodiscard]] virtual FileIoResult WriteFile(const FileHandle& file, const void* data,
                                                 std::uint32_t size) = 0;
    [[nodiscard]] virtual FileSizeResult GetFileSizeEx(const FileHandle& file) = 0;
    // Each of these returns the error number, kErrorSuccess on success.
    [[nodiscard]] virtual Win32Error FlushFileBuffers(const FileHandle& file) = 0;
    // With kMoveReplaceExisting, a destination that any handle has open fails
    // with kErrorAccessDenied, even when the handle shares delete access.
    [[nodiscard]] virtual Win32Error MoveFileExW(const std::wstring& existing,
                                                 const std::wstring& replacement,
                                                 std::uint32_t flags) = 0;
    [[nodiscard]] virtual Win32Error DeleteFileW(const std::wstring& path) = 0;
    [[nodiscard]] virtual FileInformationResult GetFileInformationByHandle(
        const FileHandle& file) = 0;
    // SetFileInformationByHandle(FileRenameInfo) with ReplaceIfExists FALSE: an
    // existing `newPath` fails with kErrorAlreadyExists or kErrorFileExists.
    [[nodiscard]] virtual Win32Error SetFileRenameInfoNoReplace(const FileHandle& file,
                                                                const std::wstring& newPath) = 0;
    // SetFileInformationByHandle(FileRenameInfoEx) with FILE_RENAME_FLAG_REPLACE_IF_EXISTS |
    // FILE_RENAME_FLAG_POSIX_SEMANTICS: replaces `newPath` even while other
    // handles have it open (they keep the replaced file), as long as every one
    // of them shares delete access. Needs a handle opened with DELETE. Systems
    // before Windows 10 1607 and file systems without POSIX renames answer
    // kErrorInvalidParameter or kErrorNotSupported.
    [[nodiscard]] virtual Win32Error SetFileRenameInfoPosixReplace(const FileHandle& file,
                                                                   const std::wstring& newPath) = 0;
    // As Windows: when the full path (without terminator) fits in `bufferLength`
    // characters including the terminator, `fullPath` receives it and its length
    // is returned; otherwise the required length including the terminator is
    // returned and `fullPath` is cleared. 0 on failure. Lengths count UTF-16
    // code units.
    [[nodiscard]] virtual std::uint32_t GetFullPathNameW(std::wstring_view fileName,
                                                         std::uint32_t bufferLength,
                                                         std::wstring& fullPath) = 0;
    // SetEndOfFile: the file ends at the handle's file pointer.
    [[nodiscard]] virtual Win32Error SetEndOfFile(const FileHandle& file) = 0;
    // GetFinalPathNameByHandleW(file, buffer, bufferLength, flags): the path the
    // handle's file has now, links resolved, in the "\\?\C:\..." form. Same
    // length convention as GetFullPathNameW; 0 on failure.
    [[nodiscard]] virtual std::uint32_t GetFinalPathNameByHandleW(const FileHandle& file,
                                                                  std::uint32_t bufferLength,
                                                                  std::uint32_t flags,
                                                                  std::wstring& finalPath) = 0;
    // SetFileInformationByHandle(FileDispositionInfo) with DeleteFile TRUE: the
    // name goes when the last handle to the file closes. Needs a handle opened
    // with DELETE access (else kErrorAccessDenied).
    [[nodiscard]] virtual Win32Error SetFileDispositionInfoDelete(const FileHandle& file) = 0;
    // CreateDirectoryW(path, attributes): with an `sddl` text the folder gets
    // that security descriptor (revision 1, not inheritable); when the text
    // does not convert, the folder is created without one. kErrorAlreadyExists
    // when the path exists, kErrorPathNotFound when its parent does not.
    [[nodiscard]] virtual Win32Error CreateDirectoryW(const std::wstring& path,
                                                      const std::wstring* sddl) = 0;
    [[nodiscard]] virtual FileAttributesResult GetFileAttributesW(const std::wstring& path) = 0;
    // CompareStringOrdinal over UTF-16 code units: kCstrLessThan, kCstrEqual or
    // kCstrGreaterThan. Ignoring case upper-cases each unit by simple case
    // mapping first, as Windows' ordinal comparison does. A kernel32 string call,
    // here because its callers compare paths.
    [[nodiscard]] virtual int CompareStringOrdinal(std::wstring_view a, std::wstring_view b,
                                                   bool ignoreCase) = 0;

  protected:
    friend class FileHandle;
    // Called once per handle, by FileHandle only.
    virtual void CloseHandle(std::uint64_t id) noexcept = 0;
};

inline FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        files_ = other.files_;
        id_ = other.id_;
        other.files_ = nullptr;
        other.id_ = 0;
    }
    return *this;
}

inline void FileHandle::Close() {
    if (files_ != nullptr) {
        Files* files = files_;
        files_ = nullptr;
        files->CloseHandle(id_);
        id_ = 0;
    }
}

}  // namespace lenticor
