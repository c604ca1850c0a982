#include "desktop/desktop_engine.h"

#include <map>
#include <utility>

#include "app/monitor_identity.h"
#include "app/text.h"

namespace nimbo {
namespace {

using desktop_win::DesktopArchiveResult;

// Unwinds to RunDesktopEngine once a step has recorded its failure. Not a
// std::exception, so no handler can mistake it for an I/O error.
struct StepFailed {};

bool SameDisplayId(const std::wstring& a, const std::wstring& b) {
    return lenticor::ToLowerWide(a) == lenticor::ToLowerWide(b);
}

bool NamesNimbo(const std::string& key) {
    return IsNimboModelId(ModelIdFromInterfacePath(key));
}

bool IsActiveAndAvailable(const DesktopTopology& topology, const std::string& key) {
    for (const auto& entry : topology.targets) {
        if (entry.key == key && entry.active && entry.available)
            return true;
    }
    return false;
}

void RecordFailure(DesktopResult& result, std::string code, std::string message) {
    result.success = false;
    result.state = "unknown";
    result.errorCode = std::move(code);
    result.errorMessage = std::move(message);
}

struct Resolution {
    std::optional<DesktopTarget> target;
    bool mismatch = false;  // the one candidate failed its identity check
};

class Engine {
  public:
    Engine(const DesktopRequest& request, const DesktopOperations& ops, DesktopResult& result)
        : request_(request), ops_(ops), result_(result) {}

    void Run();

  private:
    [[noreturn]] void Fail(const char* code, const char* message) {
        RecordFailure(result_, code, message);
        throw StepFailed{};
    }
    void Finish() { result_.success = true; }
    void Evaluate(const DesktopTopology& topology, const std::string& key) {
        EvaluateTargetState(result_, topology, key);
    }
    DesktopTopology Capture() { return current_ = ops_.captureTopology(); }

    Resolution ResolveReplacement(const DesktopJournal* journal, const DesktopTopology& topology);
    std::string CurrentJournalKey(const DesktopJournal& journal, const DesktopTopology& topology);
    std::pair<DesktopArchiveResult, DesktopTarget> ArchiveStep(const DesktopJournal* journal,
                                                               const DesktopTarget& replacement,
                                                               const char* identityMessage);
    void OwnedPreamble();
    bool UnownedPreamble(DesktopAction action);
    void Forget();
    void Darken();
    void RetireOwnership(DesktopAction action);
    void Reconcile();
    void Restore();
    void DetachExisting();
    void NewDetach();
    bool UnchangedSinceCapture();

    const DesktopRequest& request_;
    const DesktopOperations& ops_;
    DesktopResult& result_;
    std::optional<DesktopJournal> journal_;
    std::optional<std::string> corruptMessage_;
    DesktopTopology topology_;  // the capture the action decides from
    DesktopTopology current_;   // the latest capture
    std::string key_;
};

DesktopAction Normalized(DesktopAction action) {
    const int value = static_cast<int>(action);
    return value >= 0 && value <= static_cast<int>(DesktopAction::Darken) ? action
                                                                          : DesktopAction::Status;
}

void Engine::Run() {
    const DesktopAction action = Normalized(request_.action);
    try {
        journal_ = ops_.loadJournal();
    } catch (const DesktopJournalCorrupt& corrupt) {
        corruptMessage_ = corrupt.what();
    }
    result_.token = ops_.recoveryRevision();
    topology_ = Capture();
    const DesktopJournal* journal = journal_ ? &*journal_ : nullptr;
    if (action == DesktopAction::Status && (journal_ || corruptMessage_) &&
        !result_.token.empty()) {
        result_.canForget = ResolveReplacement(journal, topology_).target.has_value();
    }
    if (action == DesktopAction::Forget)
        return Forget();
    if (corruptMessage_)
        Fail("DESKTOP_JOURNAL_CORRUPT", corruptMessage_->c_str());
    if (journal_) {
        OwnedPreamble();
    } else if (UnownedPreamble(action)) {
        return;
    }
    switch (action) {
        case DesktopAction::Darken:
            return Darken();
        case DesktopAction::Detach:
        case DesktopAction::Restore:
        case DesktopAction::Reconcile:
            if (journal_ && IsActive(topology_, key_))
                return RetireOwnership(action);
            if (action == DesktopAction::Reconcile)
                return Reconcile();
            if (action == DesktopAction::Restore)
                return Restore();
            return journal_ ? DetachExisting() : NewDetach();
        default:
            return Finish();
    }
}

Resolution Engine::ResolveReplacement(const DesktopJournal* journal,
                                      const DesktopTopology& topology) {
    for (const auto& entry : topology.targets) {
        if (entry.available && entry.key.empty())
            return {};
        if (journal != nullptr && entry.available &&
            KeyInterfacePart(entry.key) == KeyInterfacePart(journal->targetKey)) {
            return {};  // the old display is still attached
        }
    }
    struct Group {
        bool active = false;
        bool available = false;
    };
    std::map<std::string, Group, std::less<>> nimboGroups;
    for (const auto& entry : topology.targets) {
        if (!NamesNimbo(entry.key))
            continue;
        auto& group = nimboGroups[std::string(KeyInterfacePart(entry.key))];
        group.active = group.active || entry.active;
        group.available = group.available || entry.available;
    }
    for (const auto& [part, group] : nimboGroups) {
        if (group.available && !group.active)
            return {};
    }
    std::vector<DesktopTarget> unique;
    for (const auto& target : ops_.enumerateNimboTargets(topology)) {
        bool listed = false;
        for (const auto& seen : unique) {
            if (seen.targetKey != target.targetKey)
                continue;
            if (!SameDisplayId(seen.displayId, target.displayId))
                return {};
            listed = true;
        }
        if (!listed)
            unique.push_back(target);
    }
    if (unique.size() != 1)
        return {};
    const DesktopTarget& target = unique.front();
    for (const auto& [part, group] : nimboGroups) {
        if (group.available && part != KeyInterfacePart(target.targetKey))
            return {};
    }
    if (!IsActiveAndAvailable(topology, target.targetKey))
        return {};
    if (!ops_.verifyIdentity(target.displayId, target.targetKey))
        return {{}, true};
    return {target, false};
}

std::string Engine::CurrentJournalKey(const DesktopJournal& journal,
                                      const DesktopTopology& topology) {
    std::string key = ops_.targetKeyForDisplayId(journal.displayId);
    if (key.empty())
        return {};
    if (key != journal.targetKey && KeyInterfacePart(key) != KeyInterfacePart(journal.targetKey)) {
        return {};
    }
    if (!IsActiveAndAvailable(topology, key) || !ops_.verifyIdentity(journal.displayId, key)) {
        return {};
    }
    return key;
}

std::pair<DesktopArchiveResult, DesktopTarget> Engine::ArchiveStep(const DesktopJournal* journal,
                                                                   const DesktopTarget& replacement,
                                                                   const char* identityMessage) {
    const Resolution again = ResolveReplacement(journal, Capture());
    if (!again.target || again.target->targetKey != replacement.targetKey ||
        !SameDisplayId(again.target->displayId, replacement.displayId)) {
        Fail("DESKTOP_IDENTITY_CHANGED", identityMessage);
    }
    const DesktopArchiveResult archived = ops_.archiveJournal(result_.token);
    if (archived != DesktopArchiveResult::Archived &&
        archived != DesktopArchiveResult::AlreadyAbsent &&
        archived != DesktopArchiveResult::Changed) {
        Fail("DESKTOP_ARCHIVE_FAILED", "recovery archive failed; original record retained");
    }
    return {archived, *again.target};
}

void Engine::OwnedPreamble() {
    const DesktopJournal& journal = *journal_;
    result_.owned = true;
    // Deliberately also for status: the journal holds the desktop for its own
    // display, and an answer about another one would let the host believe
    // that display free to detach while a recovery is pending.
    if (!request_.displayId.empty() && !SameDisplayId(request_.displayId, journal.displayId)) {
        Fail("DESKTOP_OWNERSHIP_CONFLICT", "another exact target owns the desktop journal");
    }
    result_.displayId = journal.displayId;
    key_ = CurrentJournalKey(journal, topology_);
    if (key_.empty())
        key_ = journal.targetKey;
    Evaluate(topology_, key_);
    if (key_ == journal.targetKey && result_.attached) {
        if (!ops_.verifyIdentity(journal.displayId, key_) ||
            (IsActive(topology_, key_) && ops_.targetKeyForDisplayId(journal.displayId) != key_)) {
            Fail("DESKTOP_IDENTITY_CHANGED",
                 "the journal interface does not belong to the exact Nimbo display ID");
        }
    }
}

bool Engine::UnownedPreamble(DesktopAction action) {
    std::vector<DesktopTarget> candidates;
    for (auto& target : ops_.enumerateNimboTargets(topology_)) {
        if (request_.displayId.empty() || SameDisplayId(request_.displayId, target.displayId)) {
            candidates.push_back(std::move(target));
        }
    }
    if (candidates.size() > 1) {
        Fail("DESKTOP_TARGET_AMBIGUOUS",
             "multiple active Nimbo targets require an exact display-id");
    }
    if (candidates.size() == 1) {
        key_ = candidates.front().targetKey;
        result_.displayId = candidates.front().displayId;
        if (!IsActive(topology_, key_) || !ops_.verifyIdentity(result_.displayId, key_)) {
            Fail("DESKTOP_IDENTITY_CHANGED",
                 "active Nimbo identity does not match its desktop path");
        }
        Evaluate(topology_, key_);
        return false;
    }
    if (!request_.displayId.empty()) {
        Fail("DESKTOP_TARGET_NOT_FOUND", "the requested exact Nimbo is not an active target");
    }
    result_.presence = "absent";
    for (const auto& entry : topology_.targets) {
        if (!entry.available || !NamesNimbo(entry.key))
            continue;
        result_.presence = entry.active ? "unknown" : "inactive";
        result_.attached = true;
    }
    result_.reason = "target_not_active";
    if (action == DesktopAction::Status || action == DesktopAction::Reconcile) {
        Finish();
        return true;
    }
    Fail("DESKTOP_TARGET_NOT_FOUND", "no exact active Nimbo or owned recovery target was found");
}

void Engine::Forget() {
    if (request_.recoveryToken != result_.token) {
        Fail("DESKTOP_RECOVERY_CHANGED", "recovery record changed; read status and confirm again");
    }
    const DesktopJournal* journal = journal_ ? &*journal_ : nullptr;
    const Resolution resolution = ResolveReplacement(journal, topology_);
    if (!resolution.target || (!request_.displayId.empty() &&
                               !SameDisplayId(request_.displayId, resolution.target->displayId))) {
        Fail("DESKTOP_RECOVERY_UNSAFE",
             "archive requires the old target to be absent and one verified active Nimbo with no "
             "inactive Nimbo");
    }
    result_.displayId = resolution.target->displayId;
    const auto [archived, replacement] = ArchiveStep(
        journal, *resolution.target, "display identity changed before recovery archive");
    if (archived == DesktopArchiveResult::Changed) {
        Fail("DESKTOP_RECOVERY_CHANGED", "recovery record changed before archive; confirm again");
    }
    result_.reason = archived == DesktopArchiveResult::Archived ? "recovery_archived" : "not_owned";
    result_.token = "absent";
    Evaluate(current_, replacement.targetKey);
    Finish();
}

void Engine::Darken() {
    if (!journal_)
        Fail("DESKTOP_NOT_OWNED", "darken requires a Nimbo owned by a valid journal");
    if (result_.presence != "active") {
        Fail("DESKTOP_TARGET_INACTIVE", "darken requires the owned Nimbo to be active");
    }
    if (!SurvivorSignatures(topology_, key_).empty()) {
        Fail("DESKTOP_NOT_ONLY_DISPLAY",
             "darken is only for a Nimbo that is the only active display");
    }
    if (!ops_.darken || !ops_.darken()) {
        Fail("DESKTOP_DARKEN_FAILED", "the display-off request was not issued");
    }
    Finish();
}

void Engine::RetireOwnership(DesktopAction action) {
    if (CurrentJournalKey(*journal_, Capture()) != key_) {
        Fail("DESKTOP_IDENTITY_CHANGED", "active target changed before ownership retirement");
    }
    if (!ops_.deleteJournal()) {
        Fail("DESKTOP_JOURNAL_FAILED", "could not release desktop ownership");
    }
    journal_.reset();
    result_.owned = false;
    result_.detached = false;
    Evaluate(current_, key_);
    if (action == DesktopAction::Restore)
        return Finish();
    if (action == DesktopAction::Reconcile) {
        result_.token = "absent";
        result_.reason = "ownership_retired";
        return Finish();
    }
    // The new detach starts from what the desktop is now, not from before the retirement.
    const DesktopTopology now = Capture();
    if (!IsActive(now, key_) || ops_.targetKeyForDisplayId(result_.displayId) != key_ ||
        !ops_.verifyIdentity(result_.displayId, key_)) {
        Fail("DESKTOP_IDENTITY_CHANGED", "active target changed before new detach");
    }
    topology_ = now;
    NewDetach();
}

void Engine::Reconcile() {
    if (!journal_) {
        if (result_.reason.empty())
            result_.reason = "not_owned";
        return Finish();
    }
    const Resolution resolution = ResolveReplacement(&*journal_, topology_);
    if (resolution.mismatch) {
        Fail("DESKTOP_IDENTITY_CHANGED",
             "active replacement identity does not match its desktop path");
    }
    if (!resolution.target) {
        result_.reason = "reconcile_not_eligible";
        return Finish();
    }
    if (result_.token.size() != 64) {
        Fail("DESKTOP_RECOVERY_CHANGED",
             "valid ownership has no bound recovery revision; journal retained");
    }
    const auto [archived, replacement] = ArchiveStep(
        &*journal_, *resolution.target, "display identity changed before reconnect archive");
    if (archived != DesktopArchiveResult::Archived) {
        Fail("DESKTOP_RECOVERY_CHANGED",
             "recovery record changed before reconnect archive; journal retained");
    }
    result_.owned = false;
    result_.detached = false;
    result_.displayId = replacement.displayId;
    result_.token = "absent";
    result_.reason = "recovery_archived";
    Evaluate(current_, replacement.targetKey);
    Finish();
}

void Engine::Restore() {
    if (!journal_) {
        result_.reason = "not_owned";
        return Finish();
    }
    const DesktopJournal& journal = *journal_;
    if (!result_.attached) {
        Fail("DESKTOP_TARGET_ABSENT", "the exact owned target is not currently available");
    }
    const auto expected =
        SurvivorSignatures(journal.observedAfter ? *journal.observedAfter : journal.after, "");
    if (expected != SurvivorSignatures(topology_, "")) {
        Fail("DESKTOP_TOPOLOGY_CHANGED",
             "remaining desktop paths changed; saved topology was not applied");
    }
    if (!ops_.validateTopology(journal.before)) {
        Fail("DESKTOP_VALIDATE_FAILED", "saved exact target cannot be safely reactivated");
    }
    Evaluate(Capture(), journal.targetKey);
    if (!result_.attached || SurvivorSignatures(current_, "") != expected) {
        Fail("DESKTOP_TOPOLOGY_CHANGED", "desktop changed before restore");
    }
    if (!ops_.verifyIdentity(journal.displayId, journal.targetKey)) {
        Fail("DESKTOP_IDENTITY_CHANGED", "the owned target identity changed before restore");
    }
    if (!ops_.applyTopology(journal.before)) {
        Fail("DESKTOP_APPLY_FAILED", "restore failed; journal retained");
    }
    Evaluate(Capture(), journal.targetKey);
    if (!IsActive(current_, journal.targetKey) ||
        SurvivorSignatures(journal.before, "") != SurvivorSignatures(current_, "")) {
        Fail("DESKTOP_VERIFY_FAILED", "restored desktop was not confirmed; journal retained");
    }
    if (!ops_.deleteJournal()) {
        Fail("DESKTOP_JOURNAL_FAILED", "desktop restored but ownership could not be released");
    }
    result_.owned = false;
    result_.detached = false;
    Finish();
}

void Engine::DetachExisting() {
    if (!result_.attached) {
        Fail("DESKTOP_TARGET_ABSENT", "the owned Nimbo is no longer physically available");
    }
    // Only reachable if the owned path were active, which retirement handles
    // first; kept so a detach can never start on top of a live journal.
    if (!result_.detached) {
        Fail("DESKTOP_RECOVERY_PENDING", "resolve the existing journal before another detach");
    }
    result_.reason = "already_detached";
    Finish();
}

bool Engine::UnchangedSinceCapture() {
    const DesktopTopology now = Capture();
    return SurvivorSignatures(topology_, "") == SurvivorSignatures(now, "") &&
           ops_.targetKeyForDisplayId(result_.displayId) == key_ &&
           ops_.verifyIdentity(result_.displayId, key_);
}

void Engine::NewDetach() {
    if (SurvivorSignatures(topology_, "").size() < 2) {
        Fail("DESKTOP_ONLY_DISPLAY", "cannot remove the only active desktop display");
    }
    const DesktopTopology plan = ops_.planDetach(topology_, key_);
    if (plan.targets.empty() || IsActive(plan, key_)) {
        Fail("DESKTOP_UNSUPPORTED_TOPOLOGY", "cannot safely remove this target");
    }
    if (!ops_.validateTopology(plan)) {
        Fail("DESKTOP_VALIDATE_FAILED", "target removal could not be validated");
    }
    if (!UnchangedSinceCapture()) {
        Fail("DESKTOP_TOPOLOGY_CHANGED", "desktop changed before detach");
    }
    DesktopJournal journal{result_.displayId, key_, topology_, plan, std::nullopt};
    if (!ops_.saveJournal(journal)) {
        Fail("DESKTOP_JOURNAL_FAILED", "could not persist recovery before detach");
    }
    result_.owned = true;
    if (!UnchangedSinceCapture()) {
        Fail("DESKTOP_TOPOLOGY_CHANGED",
             "desktop changed while recovery was persisted; journal retained");
    }
    if (!ops_.applyTopology(plan)) {
        Fail("DESKTOP_APPLY_FAILED", "detach failed; recovery journal retained");
    }
    Evaluate(Capture(), key_);
    if (result_.detached && SurvivorSignatures(plan, "") == SurvivorSignatures(current_, "")) {
        return Finish();
    }
    // Windows may arrange the survivors differently from the plan. When only
    // their placement differs, record what it did so a restore checks against it.
    if (IsInactiveOnly(current_, key_) && ops_.sameSurvivors(plan, current_) &&
        ops_.verifyIdentity(result_.displayId, key_)) {
        const DesktopTopology observed = current_;
        const DesktopTopology newest = Capture();
        if (IsInactiveOnly(newest, key_) &&
            SurvivorSignatures(observed, "") == SurvivorSignatures(newest, "") &&
            ops_.verifyIdentity(result_.displayId, key_)) {
            journal.observedAfter = observed;
            if (!ops_.saveJournal(journal)) {
                Fail("DESKTOP_JOURNAL_FAILED",
                     "detach differed from plan and its observed recovery baseline could not be "
                     "persisted; original journal retained");
            }
            Evaluate(Capture(), key_);
        }
    }
    Fail("DESKTOP_VERIFY_FAILED", "desktop detach was not confirmed; recovery journal retained");
}

}  // namespace

DesktopResult RunDesktopEngine(const DesktopRequest& request, const DesktopOperations& operations) {
    DesktopResult result;
    result.action = request.action;
    result.displayId = request.displayId;
    try {
        Engine(request, operations, result).Run();
    } catch (const StepFailed&) {
        // The failing step has filled in the result.
    } catch (const DesktopJournalCorrupt& corrupt) {
        RecordFailure(result, "DESKTOP_JOURNAL_CORRUPT", corrupt.what());
    } catch (const std::exception& error) {
        RecordFailure(result, "DESKTOP_IO_FAILED", error.what());
    } catch (...) {
        RecordFailure(result, "DESKTOP_IO_FAILED", "unexpected desktop failure");
    }
    return result;
}

}  // namespace nimbo
