#include "platform/sim/sim_file_support.h"

namespace lenticor::simfiles {

std::uint32_t RightsOf(std::uint32_t desiredAccess) {
    std::uint32_t rights = 0;
    if ((desiredAccess & (fa::kGenericRead | kFileReadData | kGenericAll)) != 0)
        rights |= kRightRead;
    if ((desiredAccess & (fa::kGenericWrite | kFileWriteData | kFileAppendData | kGenericAll)) != 0)
        rights |= kRightWrite;
    if ((desiredAccess & (fa::kDelete | kGenericAll)) != 0)
        rights |= kRightDelete;
    return rights;
}

namespace {

// One byte of the file's share-lock range: a held right, a refused share
// or the open itself (see the slots in the header).
struct flock SlotLock(short type, off_t slot) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = slot;
    lock.l_len = 1;
    return lock;
}

}  // namespace

bool SlotTakenByOthers(int fd, off_t slot) {
    struct flock probe = SlotLock(F_WRLCK, slot);
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return true;  // cannot tell: refuse rather than share wrongly
    return probe.l_type != F_UNLCK;
}

bool Announce(int fd, off_t slot) {
    struct flock lock = SlotLock(F_RDLCK, slot);
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool SharingAllows(int fd, std::uint32_t rights, std::uint32_t share) {
    for (int bit = 0; bit < 3; ++bit) {
        const std::uint32_t right = 1u << bit;
        if ((rights & right) != 0 && SlotTakenByOthers(fd, DenySlot(bit)))
            return false;
        if ((share & right) == 0 && SlotTakenByOthers(fd, HoldSlot(bit)))
            return false;
    }
    return true;
}

bool AnnounceOpen(int fd, std::uint32_t rights, std::uint32_t share) {
    if (!Announce(fd, kOpenSlot))
        return false;
    for (int bit = 0; bit < 3; ++bit) {
        const std::uint32_t right = 1u << bit;
        if ((rights & right) != 0 && !Announce(fd, HoldSlot(bit)))
            return false;
        if ((share & right) == 0 && !Announce(fd, DenySlot(bit)))
            return false;
    }
    return true;
}

bool IsDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::uint32_t MissingError(const std::filesystem::path& path) {
    return IsDirectory(path.parent_path()) ? kErrorFileNotFound : kErrorPathNotFound;
}

std::uint32_t ErrorFromErrno(int error, const std::filesystem::path& path) {
    switch (error) {
        case ENOENT:
            return MissingError(path);
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ENOTEMPTY:
            return kErrorAccessDenied;
        case EEXIST:
            return kErrorFileExists;
        case ENAMETOOLONG:
            return kErrorFilenameExcedRange;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case EROFS:
            return kErrorWriteProtect;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EXDEV:
            return 17;  // ERROR_NOT_SAME_DEVICE
        case EBADF:
            return kErrorInvalidHandle;
        default:
            return kErrorGenFailure;
    }
}

std::uint32_t CheckDeletable(const std::filesystem::path& path, std::optional<Descriptor>& holder,
                             std::optional<Gate>& gate, std::uint32_t conflictError,
                             off_t conflictSlot) {
    holder.emplace(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (holder->Get() < 0)
        return ErrorFromErrno(errno, path);
    gate.emplace(holder->Get());
    if (SlotTakenByOthers(holder->Get(), conflictSlot))
        return conflictError;
    return kErrorSuccess;
}

std::uint32_t SyncFolderOf(const std::filesystem::path& path) {
    Descriptor folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || ::fsync(folder.Get()) != 0)
        return ErrorFromErrno(errno, path);
    return kErrorSuccess;
}

std::pair<std::uint64_t, std::uint64_t> IdentityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace lenticor::simfiles
