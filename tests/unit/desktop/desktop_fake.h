#pragma once
// One scripted machine behind a complete operations bundle: monitors that can
// be activated, unplugged or made to fail their identity check, a journal slot
// with revisions, and an archive. Tests change the machine, never the bundle.
//
// The bundle records every call, can make one call fail (false / empty value,
// or a thrown std::runtime_error), and notes any effect that breaks a safety
// rule at the moment it happens (applying without a journal, deleting a
// journal while its display is off, ...).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "desktop/desktop_builders.h"
#include "desktop/desktop_engine.h"

namespace nimbo::test {

// The bundle members in declaration order.
enum class Op {
    LoadJournal,
    SaveJournal,
    DeleteJournal,
    CaptureTopology,
    TargetKeyForDisplayId,
    EnumerateNimboTargets,
    PlanDetach,
    ValidateTopology,
    ApplyTopology,
    VerifyIdentity,
    SameSurvivors,
    RecoveryRevision,
    ArchiveJournal,
    Darken,
};
const char* OpName(Op op);

inline constexpr const char* kInjectedFailure = "injected operation failure";

class FakeDesktop {
  public:
    explicit FakeDesktop(std::vector<Monitor> machine) : monitors(std::move(machine)) {}

    // --- the machine ---
    std::vector<Monitor> monitors;
    std::optional<std::string> journal;  // journal file text
    std::vector<std::string> archived;
    bool validateOk = true;
    bool applyOk = true;
    bool deleteOk = true;
    bool darkenOk = true;
    int savesAllowed = -1;  // successful saves left; negative is unlimited
    std::optional<std::string> revisionOverride;
    std::optional<desktop_win::DesktopArchiveResult> archiveOverride;
    // Runs on the machine after a successful apply (Windows doing its own thing).
    std::function<void(std::vector<Monitor>&)> afterApply;
    // Runs before the n-th captureTopology (0-based) returns; may throw.
    std::map<int, std::function<void(FakeDesktop&)>> beforeCapture;

    // --- instrumentation ---
    struct Fault {
        std::size_t position;  // index into the call sequence
        bool throws;           // else a false / empty result
    };
    std::optional<Fault> fault;
    std::vector<Op> calls;  // of the last Run
    std::vector<std::string> violations;
    int darkenCount = 0;
    int saves = 0;  // successful journal writes, deletions and archivings
    int deletes = 0;
    int archives = 0;

    Monitor& Find(const std::string& model, std::uint32_t targetId);
    std::string Revision() const;  // "absent" or a 64-digit revision of the journal text
    DesktopTopology Capture() const { return BuildTopology(monitors); }
    DesktopOperations Operations();
    DesktopResult Run(const DesktopRequest& request);

  private:
    template <typename R, typename F>
    R Call(Op op, R falsy, F&& real);
    const Monitor* OwnerOf(const std::string& key) const;
    std::vector<DesktopTarget> Enumerate(const DesktopTopology& topology) const;

    std::string loadedRevision_;
    int captures_ = 0;
};

std::string RevisionOfText(const std::string& text);

struct CodeMessage {
    std::string code;
    std::string message;
    auto operator<=>(const CodeMessage&) const = default;
};
// Every failure the engine reports with a fixed message, written out
// independently of the engine so a typo on either side shows.
const std::vector<CodeMessage>& EngineFailures();

}  // namespace nimbo::test
