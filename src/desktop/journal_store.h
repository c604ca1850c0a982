#pragma once
// The recovery journal on disk: the lock that keeps two mutating commands
// apart, loading with the revision the host confirms against, crash-safe
// saving, deleting when ownership ends and archiving a journal aside.
//
// Beside a journal at P live P + ".lock" (never deleted), P + ".tmp" (a save in
// progress, or a stale one the next save overwrites) and archived journals
// P + ".recovery-<32 hex>.json". Every path is the absolute path the command
// made with GetFullPathNameW, in its extended-length form (ExtendedLengthPath),
// so that the longer names beside P work wherever P does.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/desktop_journal.h"
#include "desktop/desktop_operations.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/steady_clock.h"

namespace nimbo::desktop_win {

// Largest journal file we read and largest serialised journal we write.
inline constexpr std::size_t kMaxJournalBytes = 2'097'152;

// The revision of a path that holds no journal.
inline constexpr const char* kAbsentRevision = "absent";

// Opens P + ".lock" without sharing (creating it and P's missing folders with
// CreateDirectoryW) and returns the open handle: the lock lasts as long as the
// caller keeps it. Throws JournalError "DESKTOP_BUSY" when another command
// holds it, "DESKTOP_IO_FAILED" on any other open failure, and
// std::runtime_error "desktop journal folder cannot be created (error N)".
[[nodiscard]] lenticor::FileHandle AcquireJournalLock(lenticor::Files& files,
                                                      const std::wstring& journalPath);

// No journal file (revision "absent") gives nullopt. Otherwise `revision` is
// the file's SHA-256 even when the journal then fails to parse, which throws
// DesktopJournalCorrupt with the parser's message. Read failures throw
// std::runtime_error.
[[nodiscard]] std::optional<DesktopJournal> LoadJournal(lenticor::Files& files,
                                                        lenticor::Crypto& crypto,
                                                        const std::wstring& journalPath,
                                                        std::string& revision);

// Writes P + ".tmp" and moves it over P, also while readers have P open;
// true only when every step succeeded. A failure leaves the previous journal
// as it was. A replace that another process's open refuses is retried on
// `clock` for up to 2 s (RetryWhileFileBusy).
[[nodiscard]] bool SaveJournal(lenticor::Files& files, lenticor::SteadyClock& clock,
                               const std::wstring& journalPath, const DesktopJournal& journal);

// True when the journal is gone afterwards (including when it never existed).
// Waits up to 2 s on `clock` for another process's open to end.
[[nodiscard]] bool DeleteJournal(lenticor::Files& files, lenticor::SteadyClock& clock,
                                 const std::wstring& journalPath);

// Renames the journal aside when its revision is still `expectedRevision`,
// waiting up to 2 s on `clock` for another process's open to end. Size, read
// and hash failures throw std::runtime_error.
[[nodiscard]] DesktopArchiveResult ArchiveJournal(lenticor::Files& files, lenticor::Crypto& crypto,
                                                  lenticor::SteadyClock& clock,
                                                  const std::wstring& journalPath,
                                                  const std::string& expectedRevision);

// 64 lower-case hex digits of SHA-256(bytes); throws std::runtime_error
// "desktop recovery revision hash failed".
[[nodiscard]] std::string RevisionOf(lenticor::Crypto& crypto, std::string_view bytes);

// "\\?\" + a full drive path, which Windows takes past MAX_PATH:
// "C:\data\desktop.json" gives "\\?\C:\data\desktop.json". Other forms are
// returned unchanged. The path must already be normalised (GetFullPathNameW),
// since Windows no longer does it for the prefixed form.
[[nodiscard]] std::wstring ExtendedLengthPath(const std::wstring& fullPath);

// The folder the lock creates: `journalPath` up to its last separator, with the
// separator kept after a bare drive ("C:\", "\\?\C:\"). Empty when the path
// has none.
[[nodiscard]] std::wstring JournalDirectoryOf(const std::wstring& journalPath);

}  // namespace nimbo::desktop_win
