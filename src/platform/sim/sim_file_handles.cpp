#include "platform/sim/sim_files.h"

// The calls on an open SimFiles handle.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwctype>
#include <locale>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/text.h"
#include "platform/sim/sim_file_support.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor {
using namespace simfiles;
namespace fa = fileapi;

namespace {

// read(2) or write(2) until `size` bytes have moved, the end of the file or an
// error; the bytes moved before an error still count.
template <class Io>
FileIoResult Transfer(const std::filesystem::path& realPath, std::uint32_t size, const Io& io) {
    std::uint32_t done = 0;
    while (done < size) {
        const ssize_t count = io(done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return {ErrorFromErrno(errno, realPath), done};
        }
        if (count == 0)
            break;
        done += static_cast<std::uint32_t>(count);
    }
    return {kErrorSuccess, done};
}

}  // namespace

SimFiles::OpenFile* SimFiles::Find(const FileHandle& file) {
    const auto found = open_.find(file.Id());
    return file.IsOpen() && found != open_.end() ? &found->second : nullptr;
}

FileIoResult SimFiles::ReadFile(const FileHandle& file, void* buffer, std::uint32_t size) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return {kErrorInvalidHandle, 0};
    if ((open->access & kRightRead) == 0)
        return {kErrorAccessDenied, 0};
    if (open->linkItself)
        return {kErrorSuccess, 0};
    auto* bytes = static_cast<char*>(buffer);
    return Transfer(open->realPath, size, [&](std::uint32_t done) {
        return ::read(open->fd, bytes + done, size - done);
    });
}

FileIoResult SimFiles::WriteFile(const FileHandle& file, const void* data, std::uint32_t size) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return {kErrorInvalidHandle, 0};
    if ((open->access & kRightWrite) == 0 || open->linkItself)
        return {kErrorAccessDenied, 0};
    const auto* bytes = static_cast<const char*>(data);
    const off_t start = ::lseek(open->fd, 0, SEEK_CUR);
    const FileIoResult moved = Transfer(open->realPath, size, [&](std::uint32_t done) {
        return ::write(open->fd, bytes + done, size - done);
    });
    if (moved.error != kErrorSuccess)
        return moved;
    const std::uint32_t done = moved.bytes;
    open->written = open->written || done > 0;
    if (done > 0 && start >= 0)
        NoteUnflushed(*open, start, done);
    return {kErrorSuccess, done};
}

FileSizeResult SimFiles::GetFileSizeEx(const FileHandle& file) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return {kErrorInvalidHandle, 0};
    if (open->linkItself)
        return {kErrorSuccess, 0};
    struct stat status {};
    if (::fstat(open->fd, &status) != 0)
        return {ErrorFromErrno(errno, open->realPath), 0};
    return {kErrorSuccess, static_cast<std::int64_t>(status.st_size)};
}

Win32Error SimFiles::FlushFileBuffers(const FileHandle& file) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return kErrorInvalidHandle;
    if ((open->access & kRightWrite) == 0 || open->linkItself)
        return kErrorAccessDenied;
    if (::fsync(open->fd) != 0)
        return ErrorFromErrno(errno, open->realPath);
    struct stat status {};
    if (::fstat(open->fd, &status) == 0) {
        const auto found = unflushed_.find(IdentityOf(status));
        if (found != unflushed_.end()) {
            ::close(found->second.fd);
            unflushed_.erase(found);
        }
    }
    return kErrorSuccess;
}

void SimFiles::NoteUnflushed(const OpenFile& open, std::int64_t offset, std::int64_t length) {
    struct stat status {};
    if (::fstat(open.fd, &status) != 0)
        return;
    auto& entry = unflushed_[IdentityOf(status)];
    if (entry.fd < 0) {
        // A new open file description of the same file: it carries none of
        // the handle's locks and outlives the handle and any rename.
        const std::string self = "/proc/self/fd/" + std::to_string(open.fd);
        entry.fd = ::open(self.c_str(), O_WRONLY | O_CLOEXEC);
    }
    entry.ranges.emplace_back(offset, length);
}

void SimFiles::CloseAllHandles() noexcept {
    while (!open_.empty())
        CloseOpenFile(open_.begin()->first);
}

void SimFiles::LosePower() noexcept {
    const std::vector<char> zeros(64 * 1024, 0);
    for (auto& [identity, entry] : unflushed_) {
        struct stat status {};
        if (entry.fd < 0 || ::fstat(entry.fd, &status) != 0)
            continue;
        for (auto [offset, length] : entry.ranges) {
            length = std::min<std::int64_t>(length, status.st_size - offset);
            while (length > 0) {
                const auto chunk = std::min<std::int64_t>(length, std::ssize(zeros));
                const ssize_t count = ::pwrite(entry.fd, zeros.data(), chunk, offset);
                if (count <= 0)
                    break;
                offset += count;
                length -= count;
            }
        }
        ::fsync(entry.fd);
    }
}

FileInformationResult SimFiles::GetFileInformationByHandle(const FileHandle& file) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return {kErrorInvalidHandle, 0, 0};
    struct stat status {};
    if (::fstat(open->fd, &status) != 0)
        return {ErrorFromErrno(errno, open->realPath), 0, 0};
    // NTFS counts a folder's names, not its ".." entries: a folder has one.
    const auto links = S_ISDIR(status.st_mode) ? 1u : static_cast<std::uint32_t>(status.st_nlink);
    std::uint32_t attributes = 0;
    if (S_ISLNK(status.st_mode)) {
        attributes = fa::kAttributeReparsePoint;
        if (IsDirectory(open->realPath))
            attributes |= fa::kAttributeDirectory;
    } else if (S_ISDIR(status.st_mode)) {
        attributes = fa::kAttributeDirectory;
    } else {
        attributes = fa::kAttributeArchive;
        if ((status.st_mode & S_IWUSR) == 0)
            attributes |= fa::kAttributeReadOnly;
    }
    return {kErrorSuccess, attributes, links};
}

bool SimFiles::DeletePending(const struct stat& status) const {
    return pendingDeletes_.count(IdentityOf(status)) != 0;
}

Win32Error SimFiles::SetEndOfFile(const FileHandle& file) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return kErrorInvalidHandle;
    if ((open->access & kRightWrite) == 0 || open->linkItself)
        return kErrorAccessDenied;
    const off_t position = ::lseek(open->fd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(open->fd, position) != 0)
        return ErrorFromErrno(errno, open->realPath);
    return kErrorSuccess;
}

std::uint32_t SimFiles::GetFinalPathNameByHandleW(const FileHandle& file,
                                                  std::uint32_t bufferLength, std::uint32_t flags,
                                                  std::wstring& finalPath) {
    const sim::PortCall counted;
    finalPath.clear();
    OpenFile* open = Find(file);
    // Only FILE_NAME_NORMALIZED | VOLUME_NAME_DOS (0) is simulated.
    if (open == nullptr || flags != 0)
        return 0;
    // The kernel's name for the descriptor has every link resolved, as the
    // final path does on Windows; a link opened as itself keeps its own name.
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(open->fd);
    const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
    if (size <= 0)
        return 0;
    const auto windows =
        FinalPathOfReal(std::filesystem::path(std::string(target, static_cast<std::size_t>(size))));
    if (!windows)
        return 0;
    const std::size_t length = Utf16Length(*windows);
    if (length + 1 <= bufferLength) {
        finalPath = *windows;
        return static_cast<std::uint32_t>(length);
    }
    return static_cast<std::uint32_t>(length + 1);
}

Win32Error SimFiles::SetFileDispositionInfoDelete(const FileHandle& file) {
    const sim::PortCall counted;
    OpenFile* open = Find(file);
    if (open == nullptr)
        return kErrorInvalidHandle;
    if ((open->access & kRightDelete) == 0)
        return kErrorAccessDenied;
    EndFinishedScans();
    struct stat status {};
    if (::fstat(open->fd, &status) != 0)
        return ErrorFromErrno(errno, open->realPath);
    // A read-only file cannot be deleted (STATUS_CANNOT_DELETE), a folder only
    // when empty.
    if (S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0)
        return kErrorAccessDenied;
    if (S_ISDIR(status.st_mode)) {
        std::error_code error;
        if (!std::filesystem::is_empty(open->realPath, error) || error)
            return 145;  // ERROR_DIR_NOT_EMPTY
    }
    pendingDeletes_[IdentityOf(status)] = open->realPath;
    return kErrorSuccess;
}

void SimFiles::CloseHandle(std::uint64_t id) noexcept {
    const sim::PortCall counted;
    const auto found = open_.find(id);
    if (found == open_.end() || !found->second.written || scanner_ == nullptr) {
        CloseOpenFile(id);
        return;
    }
    try {
        const std::filesystem::path real = found->second.realPath;
        CloseOpenFile(id);
        StartScan(real);
    } catch (...) {
        // The scanner is another process: its trouble is not ours.
    }
}

void SimFiles::AttachScanner(sim::SimFileScanner& scanner) {
    scanner_ = &scanner;
    const std::int64_t now = scanner.now();
    std::erase_if(scanner.holds, [&](sim::SimFileScanner::Hold& hold) {
        const auto real = RealPathOf(hold.path);
        if (!real || !OpenForScanner(*real, hold.descriptor)) {
            scanner.changed = true;
            return true;
        }
        hold.until = now + hold.remainingNanoseconds;
        return false;
    });
    // Time passes while the run works: what is left is written back.
    scanner.changed = scanner.changed || !scanner.holds.empty();
}

void SimFiles::RefusePosixRename(wchar_t drive, Win32Error error) {
    posixRenameRefusals_[drive] = error;
}

bool SimFiles::OpenForScanner(const std::filesystem::path& real, int& fd) const {
    Descriptor file(::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // It reads, sharing what it is set to share, and only when the opens
    // already there let it.
    const Gate gate(file.Get());
    if (!SharingAllows(file.Get(), kRightRead, scanner_->shareMode) ||
        !AnnounceOpen(file.Get(), kRightRead, scanner_->shareMode)) {
        return false;
    }
    fd = file.Release();
    return true;
}

void SimFiles::StartScan(const std::filesystem::path& real) {
    EndFinishedScans();
    const auto final = FinalPathOfReal(real);
    int fd = -1;
    if (scanner_->holdNanoseconds <= 0 || !final || !OpenForScanner(real, fd))
        return;
    const std::wstring path = final->substr(4);  // without "\\?\"
    // A file written again is scanned again: one hold, from now.
    std::erase_if(scanner_->holds, [&path](const sim::SimFileScanner::Hold& hold) {
        if (hold.path != path)
            return false;
        ::close(hold.descriptor);
        return true;
    });
    scanner_->holds.push_back({path, scanner_->now() + scanner_->holdNanoseconds, 0, fd});
    scanner_->changed = true;
}

void SimFiles::EndFinishedScans() {
    if (scanner_ == nullptr)
        return;
    const std::int64_t now = scanner_->now();
    std::erase_if(scanner_->holds, [&](const sim::SimFileScanner::Hold& hold) {
        if (hold.until > now)
            return false;
        ::close(hold.descriptor);
        scanner_->changed = true;
        return true;
    });
}

void SimFiles::CloseOpenFile(std::uint64_t id) noexcept {
    const auto found = open_.find(id);
    if (found == open_.end())
        return;
    struct stat status {};
    const bool known = found->second.fd >= 0 && ::fstat(found->second.fd, &status) == 0;
    if (found->second.fd >= 0)
        ::close(found->second.fd);
    open_.erase(found);
    if (!known)
        return;
    const auto pending = pendingDeletes_.find(IdentityOf(status));
    if (pending == pendingDeletes_.end())
        return;
    // The name goes with the last handle to the file.
    for (const auto& [otherId, other] : open_) {
        struct stat otherStatus {};
        if (::fstat(other.fd, &otherStatus) == 0 && IdentityOf(otherStatus) == pending->first)
            return;
    }
    struct stat nameStatus {};
    if (::lstat(pending->second.c_str(), &nameStatus) == 0 &&
        IdentityOf(nameStatus) == pending->first) {
        if (S_ISDIR(nameStatus.st_mode))
            ::rmdir(pending->second.c_str());
        else
            ::unlink(pending->second.c_str());
    }
    pendingDeletes_.erase(pending);
}

}  // namespace lenticor
