#pragma once
// Everything the desktop engine may do to the system, as a bundle of function
// objects, plus the errors those functions raise. The engine holds the
// decisions; the bundle holds the Windows calls (or a scripted machine).

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/desktop_journal.h"
#include "desktop/desktop_topology.h"

namespace nimbo {

// The journal file exists but does not hold a journal we accept. Carries the
// parse failure's message.
class DesktopJournalCorrupt : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

namespace desktop_win {

enum class DesktopArchiveResult : int {
    Archived = 0,
    AlreadyAbsent = 1,  // no journal and "absent" was expected
    Changed = 2,        // revision differs, or the journal vanished while one was expected
    Failed = 3,
};

// A journal-file failure with the result code the command reports unchanged.
class JournalError : public std::runtime_error {
  public:
    JournalError(std::string errorCode, const std::string& message)
        : std::runtime_error(message), code(std::move(errorCode)) {}
    std::string code;
};

}  // namespace desktop_win

struct DesktopOperations {
    std::function<std::optional<DesktopJournal>()> loadJournal;
    std::function<bool(const DesktopJournal&)> saveJournal;
    std::function<bool()> deleteJournal;
    std::function<DesktopTopology()> captureTopology;
    std::function<std::string(const std::wstring&)> targetKeyForDisplayId;
    std::function<std::vector<DesktopTarget>(const DesktopTopology&)> enumerateNimboTargets;
    std::function<DesktopTopology(const DesktopTopology&, const std::string&)> planDetach;
    std::function<bool(const DesktopTopology&)> validateTopology;
    std::function<bool(const DesktopTopology&)> applyTopology;
    std::function<bool(const std::wstring&, const std::string&)> verifyIdentity;
    std::function<bool(const DesktopTopology&, const DesktopTopology&)> sameSurvivors;
    std::function<std::string()> recoveryRevision;  // revision seen by the last loadJournal
    std::function<desktop_win::DesktopArchiveResult(const std::string&)> archiveJournal;
    std::function<bool()> darken;
};

}  // namespace nimbo
