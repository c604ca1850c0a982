#include "desktop/journal_store.h"

#include <array>
#include <cstdint>
#include <exception>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/busy_file_retry.h"
#include "app/text.h"

namespace nimbo::desktop_win {
namespace {

namespace fa = lenticor::fileapi;

constexpr int kArchiveAttempts = 3;

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";

// How a system without POSIX-semantics renames refuses FileRenameInfoEx:
// ERROR_INVALID_PARAMETER before Windows 10 1607 (an unknown information
// class), ERROR_NOT_SUPPORTED or ERROR_INVALID_FUNCTION from a file system
// that lacks it (FAT, some network redirectors), ERROR_FILE_SYSTEM_LIMITATION
// from exFAT.
bool IsUnsupportedRename(lenticor::Win32Error error) {
    return error == lenticor::kErrorInvalidParameter || error == lenticor::kErrorNotSupported ||
           error == lenticor::kErrorInvalidFunction ||
           error == lenticor::kErrorFileSystemLimitation;
}

bool IsMissing(lenticor::Win32Error error) {
    return error == lenticor::kErrorFileNotFound || error == lenticor::kErrorPathNotFound;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The whole file through an open handle, bounded by the journal size limit.
std::string ReadJournalBytes(lenticor::Files& files, const lenticor::FileHandle& file) {
    const auto size = files.GetFileSizeEx(file);
    if (size.error != lenticor::kErrorSuccess || size.size < 0 ||
        static_cast<std::uint64_t>(size.size) > kMaxJournalBytes) {
        throw std::runtime_error("desktop journal size invalid");
    }
    std::string bytes(static_cast<std::size_t>(size.size), '\0');
    // A buffer that is never null, even for an empty file.
    char empty = 0;
    void* buffer = bytes.empty() ? static_cast<void*>(&empty) : static_cast<void*>(bytes.data());
    const auto read = files.ReadFile(file, buffer, static_cast<std::uint32_t>(bytes.size()));
    if (read.error != lenticor::kErrorSuccess || read.bytes != bytes.size()) {
        throw std::runtime_error("desktop journal read failed");
    }
    return bytes;
}

std::string ArchiveSuffix(std::array<std::uint8_t, 16> random) {
    // A version-4 UUID's fixed bits, so the name reads as a random UUID.
    random[6] = static_cast<std::uint8_t>((random[6] & 0x0F) | 0x40);
    random[8] = static_cast<std::uint8_t>((random[8] & 0x3F) | 0x80);
    return lenticor::ToLowerHex(random.data(), random.size());
}

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring& fullPath) {
    const bool drivePath = fullPath.size() >= 3 && fullPath[1] == L':' && fullPath[2] == L'\\';
    return drivePath ? std::wstring(kExtendedPrefix) + fullPath : fullPath;
}

std::wstring JournalDirectoryOf(const std::wstring& journalPath) {
    const std::size_t prefix =
        journalPath.starts_with(kExtendedPrefix) ? kExtendedPrefix.size() : 0;
    std::size_t end = journalPath.find_last_of(L"\\/");
    if (end == std::wstring::npos || end < prefix)
        return {};
    while (end > prefix && IsSeparator(journalPath[end - 1]))
        --end;
    // "C:\name": the folder is the drive's root, which needs its separator.
    if (end == prefix + 2 && journalPath[prefix + 1] == L':')
        return journalPath.substr(0, prefix + 3);
    if (end == prefix)
        return journalPath.substr(0, prefix + 1);
    return journalPath.substr(0, end);
}

void CreateJournalDirectory(lenticor::Files& files, const std::wstring& directory) {
    const lenticor::Win32Error error = files.CreateDirectoryW(directory, nullptr);
    if (error == lenticor::kErrorPathNotFound) {
        const std::wstring parent = JournalDirectoryOf(directory);
        if (!parent.empty() && parent != directory) {
            CreateJournalDirectory(files, parent);
            if (files.CreateDirectoryW(directory, nullptr) == lenticor::kErrorSuccess)
                return;
        }
    }
    if (error == lenticor::kErrorSuccess)
        return;
    // Whatever the call said, a folder that is there now is all we need: it may
    // have been there all along (a drive's root) or made by a concurrent
    // command. Anything else there keeps its own error rather than passing as
    // a busy lock later.
    const auto existing = files.GetFileAttributesW(directory);
    if (existing.error == lenticor::kErrorSuccess &&
        (existing.attributes & fa::kAttributeDirectory) != 0)
        return;
    throw std::runtime_error("desktop journal folder cannot be created (error " +
                             std::to_string(error) + ")");
}

lenticor::FileHandle AcquireJournalLock(lenticor::Files& files, const std::wstring& journalPath) {
    const std::wstring directory = JournalDirectoryOf(journalPath);
    if (!directory.empty())
        CreateJournalDirectory(files, directory);
    auto lock = files.CreateFileW(journalPath + L".lock", fa::kGenericRead | fa::kGenericWrite,
                                  fa::kShareNone, fa::kOpenAlways, fa::kAttributeNormal);
    if (lock.handle.IsOpen())
        return std::move(lock.handle);
    if (lock.error == lenticor::kErrorSharingViolation ||
        lock.error == lenticor::kErrorLockViolation) {
        throw JournalError("DESKTOP_BUSY",
                           "another command owns this desktop journal; retry after it completes");
    }
    throw JournalError("DESKTOP_IO_FAILED", "desktop journal lock is unavailable");
}

std::optional<DesktopJournal> LoadJournal(lenticor::Files& files, lenticor::Crypto& crypto,
                                          const std::wstring& journalPath, std::string& revision) {
    auto opened = files.CreateFileW(journalPath, fa::kGenericRead,
                                    fa::kShareRead | fa::kShareWrite | fa::kShareDelete,
                                    fa::kOpenExisting, fa::kAttributeNormal);
    if (!opened.handle.IsOpen()) {
        if (IsMissing(opened.error)) {
            revision = kAbsentRevision;
            return std::nullopt;
        }
        throw std::runtime_error("desktop journal cannot be read");
    }
    const std::string bytes = ReadJournalBytes(files, opened.handle);
    opened.handle.Close();
    // Before parsing, so that the host can still confirm (forget) a journal we
    // cannot read.
    revision = RevisionOf(crypto, bytes);
    try {
        return ParseJournal(bytes);
    } catch (const nlohmann::json::exception& error) {
        throw DesktopJournalCorrupt(error.what());
    } catch (const std::runtime_error& error) {
        throw DesktopJournalCorrupt(error.what());
    }
}

bool SaveJournal(lenticor::Files& files, lenticor::SteadyClock& clock,
                 const std::wstring& journalPath, const DesktopJournal& journal) {
    const std::string text = SerializeJournal(journal);
    if (text.size() > kMaxJournalBytes)
        return false;
    const std::wstring temporary = journalPath + L".tmp";
    // DELETE so that the open temporary file itself can be renamed over P.
    auto opened = files.CreateFileW(temporary, fa::kGenericWrite | fa::kDelete, fa::kShareNone,
                                    fa::kCreateAlways, fa::kAttributeNormal);
    if (!opened.handle.IsOpen())
        return false;
    const auto written =
        files.WriteFile(opened.handle, text.data(), static_cast<std::uint32_t>(text.size()));
    if (written.error != lenticor::kErrorSuccess || written.bytes != text.size())
        return false;
    // The bytes are on disk before any name points at them, so a crash leaves
    // either the previous journal or the complete new one.
    if (files.FlushFileBuffers(opened.handle) != lenticor::kErrorSuccess)
        return false;
    // A status poll reads the journal without the lock. A plain replace fails
    // while any handle has P open, even one sharing delete; a POSIX-semantics
    // rename replaces it and leaves the reader its old file. Where the system
    // lacks that rename, the plain replace waits out the reader instead.
    bool posixRename = true;
    const lenticor::Win32Error error = lenticor::RetryWhileFileBusy(clock, [&] {
        if (posixRename) {
            const lenticor::Win32Error posix =
                files.SetFileRenameInfoPosixReplace(opened.handle, journalPath);
            if (!IsUnsupportedRename(posix))
                return posix;
            posixRename = false;
            // MoveFileExW needs the temporary file closed.
            opened.handle.Close();
        }
        return files.MoveFileExW(temporary, journalPath,
                                 fa::kMoveReplaceExisting | fa::kMoveWriteThrough);
    });
    return error == lenticor::kErrorSuccess;
}

bool DeleteJournal(lenticor::Files& files, lenticor::SteadyClock& clock,
                   const std::wstring& journalPath) {
    const lenticor::Win32Error error =
        lenticor::RetryWhileFileBusy(clock, [&] { return files.DeleteFileW(journalPath); });
    return error == lenticor::kErrorSuccess || error == lenticor::kErrorFileNotFound;
}

DesktopArchiveResult ArchiveJournal(lenticor::Files& files, lenticor::Crypto& crypto,
                                    lenticor::SteadyClock& clock, const std::wstring& journalPath,
                                    const std::string& expectedRevision) {
    // The link itself when P is a reparse point, so a link is refused below
    // instead of archiving whatever it points at. A scanner's open stops this
    // open, which asks for delete access, not the rename through it later.
    lenticor::CreateFileResult opened;
    static_cast<void>(lenticor::RetryWhileFileBusy(clock, [&] {
        opened = files.CreateFileW(journalPath, fa::kGenericRead | fa::kGenericWrite | fa::kDelete,
                                   fa::kShareRead, fa::kOpenExisting,
                                   fa::kAttributeNormal | fa::kFlagOpenReparsePoint);
        return opened.error;
    }));
    if (!opened.handle.IsOpen()) {
        if (IsMissing(opened.error)) {
            return expectedRevision == kAbsentRevision ? DesktopArchiveResult::AlreadyAbsent
                                                       : DesktopArchiveResult::Changed;
        }
        return DesktopArchiveResult::Failed;
    }
    const auto information = files.GetFileInformationByHandle(opened.handle);
    if (information.error != lenticor::kErrorSuccess ||
        (information.attributes & (fa::kAttributeDirectory | fa::kAttributeReparsePoint)) != 0) {
        return DesktopArchiveResult::Failed;
    }
    // Hash and rename the same open file: what gets archived is exactly the
    // version the host confirmed.
    if (RevisionOf(crypto, ReadJournalBytes(files, opened.handle)) != expectedRevision)
        return DesktopArchiveResult::Changed;
    if (files.FlushFileBuffers(opened.handle) != lenticor::kErrorSuccess)
        return DesktopArchiveResult::Failed;
    for (int attempt = 0; attempt < kArchiveAttempts; ++attempt) {
        std::array<std::uint8_t, 16> random{};
        if (!crypto.GenRandom(random))
            return DesktopArchiveResult::Failed;
        const std::string suffix = ArchiveSuffix(random);
        const std::wstring archived =
            journalPath + L".recovery-" + std::wstring(suffix.begin(), suffix.end()) + L".json";
        const lenticor::Win32Error error =
            files.SetFileRenameInfoNoReplace(opened.handle, archived);
        if (error == lenticor::kErrorSuccess)
            return DesktopArchiveResult::Archived;
        if (error != lenticor::kErrorAlreadyExists && error != lenticor::kErrorFileExists)
            return DesktopArchiveResult::Failed;
    }
    return DesktopArchiveResult::Failed;
}

std::string RevisionOf(lenticor::Crypto& crypto, std::string_view bytes) {
    const auto digest =
        crypto.Sha256(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (!digest)
        throw std::runtime_error("desktop recovery revision hash failed");
    return lenticor::ToLowerHex(digest->data(), digest->size());
}

}  // namespace nimbo::desktop_win
