#pragma once
// The simulated machine's file system: Windows paths on real files.
//
// Drive letters map to folders under a root the caller chooses:
// "C:\data\desktop.json" and "c:/data/desktop.json" both name
// <root>/c/data/desktop.json. The drive letter is folded to lower case; the
// rest finds an existing name in any letter case, as NTFS does, and a new
// name keeps the spelling it was created with. Paths are
// normalised as GetFullPathNameW does first, so "." and ".." and runs of
// separators mean what they mean on Windows; relative paths resolve against
// the simulated current directory. UNC and device paths do not exist here and
// fail with ERROR_PATH_NOT_FOUND.
//
// Share modes hold across processes, as Windows enforces them: every open
// announces its data access (read, write, delete) and what it refuses to share
// as shared OFD byte-range locks on the real file, far beyond its data, and a
// new open that needs a refused right, or refuses a right an existing open
// holds, fails with ERROR_SHARING_VIOLATION. Checking and announcing happen
// under an exclusive flock on the same file, so two processes cannot both pass
// the check. The locks belong to the open file and follow it across renames;
// a new file is made under a private name and renamed into place only once
// its open is announced, so nobody opens it in between.
//
// A symbolic link under the drives folder is a reparse point (a junction or a
// symbolic link on Windows): paths through a linked folder follow it, and
// FILE_FLAG_OPEN_REPARSE_POINT opens a link in the last component as itself.
// Hard links are real hard links. Final paths map back from the real file
// system, so a file reached through a link has the target's path.
//
// Paths without "\\?\" are held to MAX_PATH as in a program that does not
// declare itself long-path aware.
//
// Simpler than Windows: a pending delete (FileDispositionInfo) is known to the
// process that set it only, folders carry no security descriptors, and two
// processes creating one new name in two letter cases at the same moment
// get two files.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/sim/sim_file_scanner.h"

namespace lenticor {

// GetFullPathNameW's result for `path` against `currentDirectory` (itself a
// full drive path such as "C:\work"); nullopt when Windows would fail.
[[nodiscard]] std::optional<std::wstring> WindowsFullPath(std::wstring_view path,
                                                          std::wstring_view currentDirectory);

class SimFiles final : public Files {
  public:
    explicit SimFiles(std::filesystem::path root, std::wstring currentDirectory = L"C:\\");
    ~SimFiles() override;
    SimFiles(const SimFiles&) = delete;
    SimFiles& operator=(const SimFiles&) = delete;

    // Where a Windows path lives on the real file system; nullopt for a path
    // that cannot exist on the simulated machine.
    [[nodiscard]] std::optional<std::filesystem::path> RealPathOf(std::wstring_view path) const;

    // From now on `scanner` opens every file a handle wrote to once that
    // handle closes, and it takes on the holds the scanner already has. The
    // scanner must outlive these files.
    void AttachScanner(sim::SimFileScanner& scanner);
    // The POSIX-semantics rename answers `error` on `drive` (a lower-case
    // letter), as on a FAT or exFAT volume.
    void RefusePosixRename(wchar_t drive, Win32Error error);

    // What the end of the process does to its handles when it is killed:
    // each closes, and a delete pending on it is carried out.
    void CloseAllHandles() noexcept;
    // What a power loss leaves of the files: names and lengths, which NTFS
    // journals, but every byte written since the file's last successful
    // FlushFileBuffers reads back as zero.
    void LosePower() noexcept;

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
    struct OpenFile {
        int fd = -1;
        std::uint32_t access = 0;  // the fileapi access rights granted
        bool linkItself = false;   // a symbolic link opened as itself
        std::filesystem::path realPath;
        bool written = false;  // WriteFile wrote through this handle
    };

    OpenFile* Find(const FileHandle& file);
    // RealPathOf, with the error Windows gives a path that cannot exist:
    // ERROR_INVALID_NAME for a character no name may hold, else
    // ERROR_PATH_NOT_FOUND.
    [[nodiscard]] std::optional<std::filesystem::path> Resolve(std::wstring_view path,
                                                               Win32Error& error) const;
    // A new file at `real` (missing a moment ago) that is open and announces
    // its share mode before its name appears; kErrorFileExists when another
    // opener created it first.
    [[nodiscard]] Win32Error CreateAnnounced(const std::filesystem::path& real, int flags,
                                             std::uint32_t rights, std::uint32_t share, int& fd);
    // The error Windows gives a path without "\\?\" that is too long for the
    // call (`newFolder`: CreateDirectoryW); nullopt when it fits.
    [[nodiscard]] std::optional<std::uint32_t> DosPathLimitError(std::wstring_view path,
                                                                 bool newFolder = false) const;
    [[nodiscard]] bool DeletePending(const struct stat& status) const;
    // The checks both renames by handle start with: the handle may delete
    // (and, with `refuseLink`, is not a link opened as itself), the new name
    // is usable, and the handle's name still is its file, because the rename
    // goes by name here. On success `open`, `target` and `status` are set.
    [[nodiscard]] Win32Error PrepareRename(const FileHandle& file, const std::wstring& newPath,
                                           bool refuseLink, OpenFile*& open,
                                           std::filesystem::path& target, struct stat& status);
    // The Windows path of a real path under the drives folder, "\\?\C:\..."
    [[nodiscard]] std::optional<std::wstring> FinalPathOfReal(
        const std::filesystem::path& real) const;

    // Closes the handle's descriptor and carries out a pending delete.
    void CloseOpenFile(std::uint64_t id) noexcept;
    // The scanner's side: its open of a file just written, and the end of
    // the holds whose time is up (on the simulated clock).
    void StartScan(const std::filesystem::path& real);
    void EndFinishedScans();
    [[nodiscard]] bool OpenForScanner(const std::filesystem::path& real, int& fd) const;

    std::filesystem::path root_;
    sim::SimFileScanner* scanner_ = nullptr;
    std::map<wchar_t, Win32Error> posixRenameRefusals_;
    std::wstring currentDirectory_;
    std::map<std::uint64_t, OpenFile> open_;
    // Files whose name goes when the last handle closes, by device and inode.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::filesystem::path> pendingDeletes_;
    std::uint64_t nextId_ = 1;
    // Data written and not yet flushed, by device and inode so it follows the
    // file across renames: a descriptor of the file's own (no share-mode
    // locks) and the byte ranges as (offset, length).
    struct Unflushed {
        int fd = -1;
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    };
    std::map<std::pair<std::uint64_t, std::uint64_t>, Unflushed> unflushed_;
    void NoteUnflushed(const OpenFile& open, std::int64_t offset, std::int64_t length);
};

}  // namespace lenticor
