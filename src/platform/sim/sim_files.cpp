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

namespace lenticor {
namespace {

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

// Slot of "holds right r" (0..2), of "refuses to share r" (3..5) and of
// "has the file open at all" (6), whatever the access.
off_t HoldSlot(int bit) {
    return kShareLockBase + bit;
}
off_t DenySlot(int bit) {
    return kShareLockBase + 3 + bit;
}
constexpr off_t kOpenSlot = kShareLockBase + 6;

bool SlotTakenByOthers(int fd, off_t slot) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = slot;
    probe.l_len = 1;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return true;  // cannot tell: refuse rather than share wrongly
    return probe.l_type != F_UNLCK;
}

bool Announce(int fd, off_t slot) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = slot;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

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

// ENOENT means "file not found" only when the folder exists.
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

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int Get() const { return fd_; }
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
                             off_t conflictSlot = DenySlot(2)) {
    holder.emplace(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (holder->Get() < 0)
        return ErrorFromErrno(errno, path);
    gate.emplace(holder->Get());
    if (SlotTakenByOthers(holder->Get(), conflictSlot))
        return conflictError;
    return kErrorSuccess;
}

// Makes a rename durable, as MOVEFILE_WRITE_THROUGH waits for it.
std::uint32_t SyncFolderOf(const std::filesystem::path& path) {
    Descriptor folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || ::fsync(folder.Get()) != 0)
        return ErrorFromErrno(errno, path);
    return kErrorSuccess;
}

std::pair<std::uint64_t, std::uint64_t> IdentityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Text as Windows holds it: UTF-16 code units.
std::u16string Utf16Units(std::wstring_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (const wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code > 0xFFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
    }
    return units;
}

// Simple upper-case mapping of one UTF-16 unit; surrogates stay as they are,
// since Windows' ordinal comparison maps units, not code points.
char16_t UpperUnit(char16_t unit) {
    static const std::optional<std::locale> unicode = []() -> std::optional<std::locale> {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
    }();
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    if (!unicode)
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
    const wchar_t upper =
        std::use_facet<std::ctype<wchar_t>>(*unicode).toupper(static_cast<wchar_t>(unit));
    // A mapping that leaves the BMP cannot be one unit; Windows keeps the unit.
    return static_cast<std::uint32_t>(upper) > 0xFFFF ? unit : static_cast<char16_t>(upper);
}

bool InvalidNameCharacter(wchar_t c) {
    return c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' ||
           c == L'*';
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Without "\\?\" a full path holds at most MAX_PATH - 1 (259) characters, a
// folder to be created MAX_PATH - 12 (247), room for an 8.3 name ("Maximum
// Path Length Limitation", learn.microsoft.com/windows/win32/fileio/
// maximum-file-path-limitation; this program declares no longPathAware).
// Windows answers ERROR_PATH_NOT_FOUND for a file and
// ERROR_FILENAME_EXCED_RANGE for a new folder.
constexpr std::size_t kMaxPathCharacters = 259;
constexpr std::size_t kMaxFolderCharacters = 247;

// NTFS keeps a name's spelling but finds it in any letter case ("Do not
// assume case sensitivity ... consider the names OSCAR, Oscar, and oscar to
// be the same", Naming Files, Paths, and Namespaces, learn.microsoft.com/
// windows/win32/fileio/naming-a-file), comparing by upper-casing each UTF-16
// unit as CompareStringOrdinal does.
std::optional<std::string> MatchIgnoringCase(const std::filesystem::path& folder,
                                             std::wstring_view name) {
    std::u16string wanted = Utf16Units(name);
    for (auto& unit : wanted)
        unit = UpperUnit(unit);
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string found = entry->path().filename().string();
        const auto wide = Utf8ToWideStrict(found);
        if (!wide)
            continue;
        std::u16string units = Utf16Units(*wide);
        for (auto& unit : units)
            unit = UpperUnit(unit);
        if (units == wanted)
            return found;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> SimFiles::DosPathLimitError(std::wstring_view path,
                                                         bool newFolder) const {
    if (path.starts_with(L"\\\\?\\"))
        return std::nullopt;
    const auto full = WindowsFullPath(path, currentDirectory_);
    if (!full)
        return std::nullopt;
    if (Utf16Length(*full) > (newFolder ? kMaxFolderCharacters : kMaxPathCharacters))
        return newFolder ? kErrorFilenameExcedRange : kErrorPathNotFound;
    return std::nullopt;
}

std::optional<std::wstring> WindowsFullPath(std::wstring_view path,
                                            std::wstring_view currentDirectory) {
    if (path.empty())
        return std::nullopt;
    std::wstring text(path);
    // "\\?\" paths reach the file system as they are written.
    if (text.rfind(L"\\\\?\\", 0) == 0)
        return text;
    for (auto& c : text) {
        if (c == L'/')
            c = L'\\';
    }
    std::wstring root;
    std::wstring rest;
    if (text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\') {
        // UNC: "\\server\share" is the root that ".." cannot climb above.
        std::size_t server = text.find(L'\\', 2);
        std::size_t share = server == std::wstring::npos ? server : text.find(L'\\', server + 1);
        root = text.substr(0, share == std::wstring::npos ? text.size() : share) + L"\\";
        rest = share == std::wstring::npos ? L"" : text.substr(share + 1);
    } else if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == L':') {
        if (text.size() >= 3 && text[2] == L'\\') {
            root = text.substr(0, 3);
            rest = text.substr(3);
        } else if (currentDirectory.size() >= 2 &&
                   std::towlower(static_cast<std::wint_t>(currentDirectory[0])) ==
                       std::towlower(static_cast<std::wint_t>(text[0]))) {
            // "C:name" is relative to the current folder of that drive.
            root = std::wstring(currentDirectory.substr(0, 3));
            rest = std::wstring(currentDirectory.substr(3)) + L"\\" + text.substr(2);
        } else {
            root = text.substr(0, 2) + L"\\";
            rest = text.substr(2);
        }
    } else if (!text.empty() && text[0] == L'\\') {
        root = std::wstring(currentDirectory.substr(0, 3));
        rest = text.substr(1);
    } else {
        root = std::wstring(currentDirectory.substr(0, 3));
        rest = std::wstring(currentDirectory.substr(3)) + L"\\" + text;
    }
    const bool trailingSeparator = !rest.empty() && rest.back() == L'\\';
    std::vector<std::wstring> segments;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos)
            end = rest.size();
        std::wstring segment = rest.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == L".")
            continue;
        if (segment == L"..") {
            if (!segments.empty())
                segments.pop_back();
            continue;
        }
        // "If a segment ends in a single period, that period is removed"
        // (File path formats on Windows systems, learn.microsoft.com/dotnet/
        // standard/io/file-path-formats); three or more periods are a name.
        if (segment.size() >= 2 && segment.back() == L'.' && segment[segment.size() - 2] != L'.')
            segment.pop_back();
        segments.push_back(std::move(segment));
    }
    // Windows drops trailing dots and spaces of the last name, unless a
    // separator follows it.
    if (!trailingSeparator && !segments.empty()) {
        auto& last = segments.back();
        while (!last.empty() && (last.back() == L'.' || last.back() == L' '))
            last.pop_back();
        if (last.empty())
            segments.pop_back();
    }
    std::wstring full = root;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0)
            full += L'\\';
        full += segments[i];
    }
    if (trailingSeparator && !segments.empty())
        full += L'\\';
    return full;
}

SimFiles::SimFiles(std::filesystem::path root, std::wstring currentDirectory)
    : root_(std::move(root)), currentDirectory_(std::move(currentDirectory)) {}

SimFiles::~SimFiles() {
    for (auto& [id, file] : open_) {
        if (file.fd >= 0)
            ::close(file.fd);
    }
}

std::optional<std::filesystem::path> SimFiles::RealPathOf(std::wstring_view path) const {
    Win32Error error = kErrorSuccess;
    return Resolve(path, error);
}

std::optional<std::filesystem::path> SimFiles::Resolve(std::wstring_view path,
                                                       Win32Error& error) const {
    error = kErrorPathNotFound;
    auto full = WindowsFullPath(path, currentDirectory_);
    if (!full)
        return std::nullopt;
    std::wstring_view text = *full;
    if (text.rfind(L"\\\\?\\", 0) == 0) {
        text.remove_prefix(4);
    }
    if (text.size() < 3 || !IsDriveLetter(text[0]) || text[1] != L':' ||
        (text[2] != L'\\' && text[2] != L'/')) {
        return std::nullopt;
    }
    std::filesystem::path real =
        root_ / std::string(1, static_cast<char>(std::towlower(static_cast<std::wint_t>(text[0]))));
    // Once a name is missing, nothing below it can exist to be matched.
    bool existing = true;
    std::size_t start = 3;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(L"\\/", start);
        if (end == std::wstring_view::npos)
            end = text.size();
        const std::wstring_view segment = text.substr(start, end - start);
        start = end + 1;
        if (segment.empty())
            continue;
        for (const wchar_t c : segment) {
            if (InvalidNameCharacter(c)) {
                error = kErrorInvalidName;
                return std::nullopt;
            }
        }
        if (segment == L"." || segment == L"..")
            return std::nullopt;  // only a "\\?\" path can still hold these
        const std::string name = WideToUtf8(segment);
        struct stat status {};
        if (existing && ::lstat((real / name).c_str(), &status) != 0) {
            const auto match = MatchIgnoringCase(real, segment);
            existing = match.has_value();
            real /= match.value_or(name);
        } else {
            real /= name;
        }
    }
    error = kErrorSuccess;
    return real;
}

SimFiles::OpenFile* SimFiles::Find(const FileHandle& file) {
    const auto found = open_.find(file.Id());
    return file.IsOpen() && found != open_.end() ? &found->second : nullptr;
}

CreateFileResult SimFiles::CreateFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                                       std::uint32_t flagsAndAttributes) {
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

FileIoResult SimFiles::ReadFile(const FileHandle& file, void* buffer, std::uint32_t size) {
    OpenFile* open = Find(file);
    if (open == nullptr)
        return {kErrorInvalidHandle, 0};
    if ((open->access & kRightRead) == 0)
        return {kErrorAccessDenied, 0};
    if (open->linkItself)
        return {kErrorSuccess, 0};
    auto* bytes = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(open->fd, bytes + done, size - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return {ErrorFromErrno(errno, open->realPath), done};
        }
        if (count == 0)
            break;
        done += static_cast<std::uint32_t>(count);
    }
    return {kErrorSuccess, done};
}

FileIoResult SimFiles::WriteFile(const FileHandle& file, const void* data, std::uint32_t size) {
    OpenFile* open = Find(file);
    if (open == nullptr)
        return {kErrorInvalidHandle, 0};
    if ((open->access & kRightWrite) == 0 || open->linkItself)
        return {kErrorAccessDenied, 0};
    const auto* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        const ssize_t count = ::write(open->fd, bytes + done, size - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return {ErrorFromErrno(errno, open->realPath), done};
        }
        done += static_cast<std::uint32_t>(count);
    }
    return {kErrorSuccess, done};
}

FileSizeResult SimFiles::GetFileSizeEx(const FileHandle& file) {
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
    OpenFile* open = Find(file);
    if (open == nullptr)
        return kErrorInvalidHandle;
    if ((open->access & kRightWrite) == 0 || open->linkItself)
        return kErrorAccessDenied;
    return ::fsync(open->fd) == 0 ? kErrorSuccess : ErrorFromErrno(errno, open->realPath);
}

Win32Error SimFiles::MoveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                 std::uint32_t flags) {
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

FileInformationResult SimFiles::GetFileInformationByHandle(const FileHandle& file) {
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

Win32Error SimFiles::PrepareRename(const FileHandle& file, const std::wstring& newPath,
                                   bool refuseLink, OpenFile*& open, std::filesystem::path& target,
                                   struct stat& status) {
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
    OpenFile* open = nullptr;
    std::filesystem::path target;
    struct stat handleStatus {};
    if (const Win32Error error = PrepareRename(file, newPath, true, open, target, handleStatus);
        error != kErrorSuccess) {
        return error;
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

bool SimFiles::DeletePending(const struct stat& status) const {
    return pendingDeletes_.count(IdentityOf(status)) != 0;
}

std::optional<std::wstring> SimFiles::FinalPathOfReal(const std::filesystem::path& real) const {
    std::error_code error;
    const auto root = std::filesystem::weakly_canonical(root_, error);
    if (error)
        return std::nullopt;
    const auto relative = real.lexically_relative(root);
    auto part = relative.begin();
    if (relative.empty() || part == relative.end())
        return std::nullopt;
    const std::string drive = part->string();
    if (drive.size() != 1 || !IsDriveLetter(static_cast<wchar_t>(drive[0])))
        return std::nullopt;  // outside the simulated drives
    std::wstring path = L"\\\\?\\";
    path += static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(drive[0])));
    path += L":\\";
    bool first = true;
    for (++part; part != relative.end(); ++part) {
        if (part->empty())
            continue;
        if (!first)
            path += L'\\';
        path += Utf8ToWideStrict(part->string()).value_or(L"\uFFFD");
        first = false;
    }
    return path;
}

Win32Error SimFiles::SetEndOfFile(const FileHandle& file) {
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
    OpenFile* open = Find(file);
    if (open == nullptr)
        return kErrorInvalidHandle;
    if ((open->access & kRightDelete) == 0)
        return kErrorAccessDenied;
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

Win32Error SimFiles::CreateDirectoryW(const std::wstring& path, const std::wstring* /*sddl*/) {
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

int SimFiles::CompareStringOrdinal(std::wstring_view a, std::wstring_view b, bool ignoreCase) {
    auto left = Utf16Units(a);
    auto right = Utf16Units(b);
    if (ignoreCase) {
        for (auto& unit : left)
            unit = UpperUnit(unit);
        for (auto& unit : right)
            unit = UpperUnit(unit);
    }
    const int order = left.compare(right);
    return order < 0 ? fa::kCstrLessThan : order == 0 ? fa::kCstrEqual : fa::kCstrGreaterThan;
}

std::uint32_t SimFiles::GetFullPathNameW(std::wstring_view fileName, std::uint32_t bufferLength,
                                         std::wstring& fullPath) {
    fullPath.clear();
    const auto full = WindowsFullPath(fileName, currentDirectory_);
    if (!full)
        return 0;
    const std::size_t length = Utf16Length(*full);
    if (length + 1 <= bufferLength) {
        fullPath = *full;
        return static_cast<std::uint32_t>(length);
    }
    return static_cast<std::uint32_t>(length + 1);
}

void SimFiles::CloseHandle(std::uint64_t id) noexcept {
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
