#include "platform/sim/sim_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwctype>
#include <locale>
#include <system_error>
#include <utility>
#include <vector>

#include "app/text.h"
#include "platform/sim/sim_file_support.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor {
using namespace simfiles;
namespace fa = fileapi;

SimFiles::SimFiles(std::filesystem::path root, std::wstring currentDirectory)
    : root_(std::move(root)), currentDirectory_(std::move(currentDirectory)) {}

SimFiles::~SimFiles() {
    for (auto& [id, file] : open_) {
        if (file.fd >= 0)
            ::close(file.fd);
    }
    for (auto& [identity, entry] : unflushed_) {
        if (entry.fd >= 0)
            ::close(entry.fd);
    }
    if (scanner_ != nullptr) {
        for (auto& hold : scanner_->holds)
            ::close(std::exchange(hold.descriptor, -1));
    }
}

CreateFileResult SimFiles::CreateFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                                       std::uint32_t flagsAndAttributes) {
    const sim::PortCall counted;
    EndFinishedScans();
    CreateFileResult result;
    if (const auto tooLong = DosPathLimitError(path)) {
        result.error = *tooLong;
        return result;
    }
    Win32Error unusable = kErrorSuccess;
    const auto real = Resolve(path, unusable);
    if (!real) {
        result.error = unusable;
        return result;
    }
    if (creationDisposition < fa::kCreateNew || creationDisposition > fa::kTruncateExisting) {
        result.error = kErrorInvalidParameter;
        return result;
    }
    const std::uint32_t rights = RightsOf(desiredAccess);
    const std::uint32_t share = shareMode & kAllRights;
    const bool openLink = (flagsAndAttributes & fa::kFlagOpenReparsePoint) != 0;

    struct stat linkStatus {};
    const bool exists = ::lstat(real->c_str(), &linkStatus) == 0;
    if (exists) {
        // A file whose delete is pending refuses new opens (STATUS_DELETE_PENDING,
        // which GetLastError reports as ERROR_ACCESS_DENIED).
        struct stat target {};
        const bool itself = openLink || !S_ISLNK(linkStatus.st_mode);
        if ((itself && DeletePending(linkStatus)) ||
            (!itself && ::stat(real->c_str(), &target) == 0 && DeletePending(target))) {
            result.error = kErrorAccessDenied;
            return result;
        }
    }
    if (exists && S_ISLNK(linkStatus.st_mode) && openLink) {
        // The link itself: no data to share, so no share check either.
        if (creationDisposition == fa::kCreateNew) {
            result.error = kErrorFileExists;
            return result;
        }
        const int fd = ::open(real->c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            result.error = ErrorFromErrno(errno, *real);
            return result;
        }
        const std::uint64_t id = nextId_++;
        open_[id] = OpenFile{fd, rights, true, *real};
        result.handle = FileHandle(*this, id);
        return result;
    }
    if (IsDirectory(*real)) {
        // Folders open only with backup semantics, and never as a new file.
        if ((flagsAndAttributes & fa::kFlagBackupSemantics) == 0 ||
            creationDisposition == fa::kCreateAlways ||
            creationDisposition == fa::kTruncateExisting) {
            result.error = kErrorAccessDenied;
            return result;
        }
        if (creationDisposition == fa::kCreateNew) {
            result.error = kErrorFileExists;
            return result;
        }
        const int fd = ::open(real->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            result.error = ErrorFromErrno(errno, *real);
            return result;
        }
        const std::uint64_t id = nextId_++;
        open_[id] = OpenFile{fd, rights, false, *real};
        result.handle = FileHandle(*this, id);
        return result;
    }

    const bool truncate =
        creationDisposition == fa::kCreateAlways || creationDisposition == fa::kTruncateExisting;
    if (creationDisposition == fa::kTruncateExisting && (rights & kRightWrite) == 0) {
        result.error = kErrorInvalidParameter;
        return result;
    }
    // Share locks need a readable descriptor; truncation a writable one.
    int flags = ((rights & kRightWrite) != 0 || truncate) ? O_RDWR : O_RDONLY;
    flags |= O_CLOEXEC | O_NONBLOCK;
    if (openLink)
        flags |= O_NOFOLLOW;
    const bool creates = creationDisposition == fa::kCreateNew ||
                         creationDisposition == fa::kCreateAlways ||
                         creationDisposition == fa::kOpenAlways;
    // A dangling link creates its target wherever that is, with no folder of
    // ours to prepare it in privately.
    const bool danglingLink = exists && S_ISLNK(linkStatus.st_mode);
    if (creates && danglingLink)
        flags |= O_CREAT | (creationDisposition == fa::kCreateNew ? O_EXCL : 0);
    std::optional<Descriptor> fd;
    for (int attempt = 0; !fd; ++attempt) {
        const int opened = ::open(real->c_str(), flags, 0666);
        if (opened >= 0) {
            fd.emplace(opened);
            break;
        }
        if (errno != ENOENT || !creates || danglingLink) {
            result.error = errno == EEXIST ? kErrorFileExists : ErrorFromErrno(errno, *real);
            return result;
        }
        int created = -1;
        const Win32Error error = CreateAnnounced(*real, flags, rights, share, created);
        if (error == kErrorSuccess) {
            const std::uint64_t id = nextId_++;
            open_[id] = OpenFile{created, rights, false, *real};
            result.handle = FileHandle(*this, id);
            return result;
        }
        // Created by another opener meanwhile: open theirs, as Windows would.
        if (error != kErrorFileExists || creationDisposition == fa::kCreateNew || attempt == 2) {
            result.error = error;
            return result;
        }
    }
    if (creationDisposition == fa::kCreateNew && !danglingLink) {
        result.error = kErrorFileExists;
        return result;
    }
    // "Applications can read the file, but cannot write to it or delete it"
    // (FILE_ATTRIBUTE_READONLY, File Attribute Constants, learn.microsoft.com/
    // windows/win32/fileio/file-attribute-constants): refused even to root,
    // whom the real file system would let write.
    struct stat status {};
    if (::fstat(fd->Get(), &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & S_IWUSR) == 0 && ((rights & kRightWrite) != 0 || truncate)) {
        result.error = kErrorAccessDenied;
        return result;
    }
    // Back to blocking reads and writes; O_NONBLOCK only kept the open from
    // waiting on a fifo.
    ::fcntl(fd->Get(), F_SETFL, ::fcntl(fd->Get(), F_GETFL) & ~O_NONBLOCK);
    {
        Gate gate(fd->Get());
        if (rights != 0 && !SharingAllows(fd->Get(), rights, share)) {
            result.error = kErrorSharingViolation;
            return result;
        }
        if (!AnnounceOpen(fd->Get(), rights, share)) {
            result.error = ErrorFromErrno(errno, *real);
            return result;
        }
    }
    // Only now, when the open is allowed, may its disposition change the file.
    if (truncate && ::ftruncate(fd->Get(), 0) != 0) {
        result.error = ErrorFromErrno(errno, *real);
        return result;
    }
    const std::uint64_t id = nextId_++;
    open_[id] = OpenFile{fd->Release(), rights, false, *real};
    result.handle = FileHandle(*this, id);
    return result;
}

Win32Error SimFiles::CreateAnnounced(const std::filesystem::path& real, int flags,
                                     std::uint32_t rights, std::uint32_t share, int& fd) {
    // Unique among processes (the pid) and within this one (the counter).
    auto temporary = real.parent_path();
    temporary /= ".lenticor-new-" + std::to_string(::getpid()) + "-" + std::to_string(nextId_++);
    Descriptor created(::open(temporary.c_str(), flags | O_CREAT | O_EXCL, 0666));
    if (created.Get() < 0)
        return ErrorFromErrno(errno, real);
    ::fcntl(created.Get(), F_SETFL, ::fcntl(created.Get(), F_GETFL) & ~O_NONBLOCK);
    int error = 0;
    if (!AnnounceOpen(created.Get(), rights, share))
        error = errno;
    else if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, real.c_str(), RENAME_NOREPLACE) !=
             0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error == EEXIST ? kErrorFileExists : ErrorFromErrno(error, real);
    }
    fd = created.Release();
    return kErrorSuccess;
}

Win32Error SimFiles::MoveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                 std::uint32_t flags) {
    const sim::PortCall counted;
    EndFinishedScans();
    for (const auto* path : {&existing, &replacement}) {
        if (const auto tooLong = DosPathLimitError(*path))
            return *tooLong;
    }
    Win32Error unusable = kErrorSuccess;
    const auto from = Resolve(existing, unusable);
    if (!from)
        return unusable;
    const auto to = Resolve(replacement, unusable);
    if (!to)
        return unusable;
    struct stat fromStatus {};
    if (::lstat(from->c_str(), &fromStatus) != 0)
        return ErrorFromErrno(errno, *from);
    std::optional<Descriptor> fromHolder;
    std::optional<Gate> fromGate;
    if (S_ISREG(fromStatus.st_mode)) {
        const Win32Error error =
            CheckDeletable(*from, fromHolder, fromGate, kErrorSharingViolation);
        if (error != kErrorSuccess)
            return error;
    }
    std::optional<Descriptor> toHolder;
    std::optional<Gate> toGate;
    struct stat toStatus {};
    if (::lstat(to->c_str(), &toStatus) == 0) {
        if ((flags & fa::kMoveReplaceExisting) == 0)
            return kErrorAlreadyExists;
        if (S_ISDIR(toStatus.st_mode))
            return kErrorAccessDenied;
        if (S_ISREG(toStatus.st_mode) && toStatus.st_ino != fromStatus.st_ino) {
            // A plain replace refuses a destination anyone has open, even with
            // delete shared: "existing opens of the destination path are not
            // allowed" (Eryk Sun on MoveFileExW, bugs.python.org issue46003).
            // Only a POSIX-semantics rename replaces an open file.
            const Win32Error error =
                CheckDeletable(*to, toHolder, toGate, kErrorAccessDenied, kOpenSlot);
            if (error != kErrorSuccess)
                return error;
        }
    }
    const int renamed =
        (flags & fa::kMoveReplaceExisting) != 0
            ? ::rename(from->c_str(), to->c_str())
            : ::renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), RENAME_NOREPLACE);
    if (renamed != 0) {
        return errno == EEXIST ? kErrorAlreadyExists : ErrorFromErrno(errno, *to);
    }
    if ((flags & fa::kMoveWriteThrough) != 0)
        return SyncFolderOf(*to);
    return kErrorSuccess;
}

Win32Error SimFiles::DeleteFileW(const std::wstring& path) {
    const sim::PortCall counted;
    EndFinishedScans();
    if (const auto tooLong = DosPathLimitError(path))
        return *tooLong;
    Win32Error unusable = kErrorSuccess;
    const auto real = Resolve(path, unusable);
    if (!real)
        return unusable;
    struct stat status {};
    if (::lstat(real->c_str(), &status) != 0)
        return ErrorFromErrno(errno, *real);
    if (S_ISDIR(status.st_mode))
        return kErrorAccessDenied;
    std::optional<Descriptor> holder;
    std::optional<Gate> gate;
    if (S_ISREG(status.st_mode)) {
        if ((status.st_mode & S_IWUSR) == 0)
            return kErrorAccessDenied;  // FILE_ATTRIBUTE_READONLY
        const Win32Error error = CheckDeletable(*real, holder, gate, kErrorSharingViolation);
        if (error != kErrorSuccess)
            return error;
    }
    return ::unlink(real->c_str()) == 0 ? kErrorSuccess : ErrorFromErrno(errno, *real);
}

Win32Error SimFiles::PrepareRename(const FileHandle& file, const std::wstring& newPath,
                                   bool refuseLink, OpenFile*& open, std::filesystem::path& target,
                                   struct stat& status) {
    EndFinishedScans();
    open = Find(file);
    if (open == nullptr)
        return kErrorInvalidHandle;
    if ((open->access & kRightDelete) == 0 || (refuseLink && open->linkItself))
        return kErrorAccessDenied;
    if (const auto tooLong = DosPathLimitError(newPath))
        return *tooLong;
    Win32Error unusable = kErrorSuccess;
    auto real = Resolve(newPath, unusable);
    if (!real)
        return unusable;
    target = std::move(*real);
    struct stat nameStatus {};
    if (::fstat(open->fd, &status) != 0 || ::lstat(open->realPath.c_str(), &nameStatus) != 0 ||
        IdentityOf(status) != IdentityOf(nameStatus)) {
        return kErrorFileNotFound;
    }
    return kErrorSuccess;
}

Win32Error SimFiles::SetFileRenameInfoNoReplace(const FileHandle& file,
                                                const std::wstring& newPath) {
    const sim::PortCall counted;
    OpenFile* open = nullptr;
    std::filesystem::path target;
    struct stat handleStatus {};
    if (const Win32Error error = PrepareRename(file, newPath, false, open, target, handleStatus);
        error != kErrorSuccess) {
        return error;
    }
    if (::renameat2(AT_FDCWD, open->realPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) !=
        0) {
        return errno == EEXIST ? kErrorAlreadyExists : ErrorFromErrno(errno, target);
    }
    open->realPath = target;
    return kErrorSuccess;
}

Win32Error SimFiles::SetFileRenameInfoPosixReplace(const FileHandle& file,
                                                   const std::wstring& newPath) {
    const sim::PortCall counted;
    OpenFile* open = nullptr;
    std::filesystem::path target;
    struct stat handleStatus {};
    if (const Win32Error error = PrepareRename(file, newPath, true, open, target, handleStatus);
        error != kErrorSuccess) {
        return error;
    }
    // FAT and exFAT have no POSIX-semantics rename.
    const auto volume = target.lexically_relative(root_);
    if (!volume.empty()) {
        const auto drive = volume.begin()->wstring();
        if (const auto refusal = posixRenameRefusals_.find(drive.empty() ? L'\0' : drive[0]);
            refusal != posixRenameRefusals_.end())
            return refusal->second;
    }
    std::optional<Descriptor> holder;
    std::optional<Gate> gate;
    struct stat targetStatus {};
    if (::lstat(target.c_str(), &targetStatus) == 0 &&
        IdentityOf(targetStatus) != IdentityOf(handleStatus)) {
        // The replaced file is deleted, so its opens must still share delete;
        // a folder or a read-only file is never replaced.
        if (S_ISDIR(targetStatus.st_mode) ||
            (S_ISREG(targetStatus.st_mode) && (targetStatus.st_mode & S_IWUSR) == 0))
            return kErrorAccessDenied;
        if (S_ISREG(targetStatus.st_mode)) {
            const Win32Error error = CheckDeletable(target, holder, gate, kErrorSharingViolation);
            if (error != kErrorSuccess)
                return error;
        }
    }
    // Readers of the replaced file keep their open file, as on NTFS.
    if (::rename(open->realPath.c_str(), target.c_str()) != 0)
        return ErrorFromErrno(errno, target);
    open->realPath = target;
    return SyncFolderOf(target);
}

Win32Error SimFiles::CreateDirectoryW(const std::wstring& path, const std::wstring* /*sddl*/) {
    const sim::PortCall counted;
    if (const auto tooLong = DosPathLimitError(path, true))
        return *tooLong;
    Win32Error unusable = kErrorSuccess;
    const auto real = Resolve(path, unusable);
    if (!real)
        return unusable;
    // A drive's root folder always exists on Windows.
    if (const auto relative = real->lexically_relative(root_); !relative.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(root_ / *relative.begin(), ignored);
    }
    if (::mkdir(real->c_str(), 0777) == 0)
        return kErrorSuccess;
    switch (errno) {
        case EEXIST:
            return kErrorAlreadyExists;
        case ENOENT:
        case ENOTDIR:
            return kErrorPathNotFound;
        default:
            return ErrorFromErrno(errno, *real);
    }
}

FileAttributesResult SimFiles::GetFileAttributesW(const std::wstring& path) {
    const sim::PortCall counted;
    if (const auto tooLong = DosPathLimitError(path))
        return {*tooLong, fa::kInvalidFileAttributes};
    Win32Error unusable = kErrorSuccess;
    const auto real = Resolve(path, unusable);
    if (!real)
        return {unusable, fa::kInvalidFileAttributes};
    struct stat status {};
    if (::lstat(real->c_str(), &status) != 0)
        return {ErrorFromErrno(errno, *real), fa::kInvalidFileAttributes};
    if (DeletePending(status))
        return {kErrorAccessDenied, fa::kInvalidFileAttributes};
    // The last component is not followed: a link answers for itself.
    if (S_ISLNK(status.st_mode)) {
        return {kErrorSuccess,
                fa::kAttributeReparsePoint | (IsDirectory(*real) ? fa::kAttributeDirectory : 0u)};
    }
    if (S_ISDIR(status.st_mode))
        return {kErrorSuccess, fa::kAttributeDirectory};
    return {kErrorSuccess, fa::kAttributeArchive |
                               ((status.st_mode & S_IWUSR) == 0 ? fa::kAttributeReadOnly : 0u)};
}

}  // namespace lenticor
