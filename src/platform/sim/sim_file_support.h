#pragma once
// The POSIX machinery under SimFiles: share modes as OFD locks, errno as
// Windows errors, and descriptors that close themselves.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/files.h"

namespace lenticor::simfiles {

namespace fa = fileapi;

// Data rights, numbered like the share bits that grant them to others.
constexpr std::uint32_t kRightRead = fa::kShareRead;
constexpr std::uint32_t kRightWrite = fa::kShareWrite;
constexpr std::uint32_t kRightDelete = fa::kShareDelete;
constexpr std::uint32_t kAllRights = kRightRead | kRightWrite | kRightDelete;

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kFileReadData = 0x1;
constexpr std::uint32_t kFileWriteData = 0x2;
constexpr std::uint32_t kFileAppendData = 0x4;

// The announcement bytes sit far beyond any file the simulation writes; the
// locks are advisory and never touch data.
constexpr off_t kShareLockBase = off_t{1} << 46;

std::uint32_t RightsOf(std::uint32_t desiredAccess);

// Slot of "holds right r" (0..2), of "refuses to share r" (3..5) and of
// "has the file open at all" (6), whatever the access.
constexpr off_t HoldSlot(int bit) {
    return kShareLockBase + bit;
}
constexpr off_t DenySlot(int bit) {
    return kShareLockBase + 3 + bit;
}
constexpr off_t kOpenSlot = kShareLockBase + 6;

bool SlotTakenByOthers(int fd, off_t slot);

bool Announce(int fd, off_t slot);

// Holds the file's gate while the share check and the announcement happen.
class Gate {
  public:
    explicit Gate(int fd) : fd_(fd) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Gate() { ::flock(fd_, LOCK_UN); }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

  private:
    int fd_;
};

// Whether an open with `rights` and `share` may join the opens that exist.
bool SharingAllows(int fd, std::uint32_t rights, std::uint32_t share);

bool AnnounceOpen(int fd, std::uint32_t rights, std::uint32_t share);

bool IsDirectory(const std::filesystem::path& path);

// ENOENT means "file not found" only when the folder exists.
std::uint32_t MissingError(const std::filesystem::path& path);

std::uint32_t ErrorFromErrno(int error, const std::filesystem::path& path);

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// A regular file's readiness to be deleted or renamed by name, as DeleteFileW
// and MoveFileExW open it: only when no other open holds `conflictSlot`
// (by default: refuses to share deletion). Returns the error, or success with
// `gate` kept on the file until the caller has finished.
std::uint32_t CheckDeletable(const std::filesystem::path& path, std::optional<Descriptor>& holder,
                             std::optional<Gate>& gate, std::uint32_t conflictError,
                             off_t conflictSlot = DenySlot(2));

// Makes a rename durable, as MOVEFILE_WRITE_THROUGH waits for it.
std::uint32_t SyncFolderOf(const std::filesystem::path& path);

std::pair<std::uint64_t, std::uint64_t> IdentityOf(const struct stat& status);

}  // namespace lenticor::simfiles
