// The desktop engine on the scripted machine: every row of its state table
// and every failure it can report.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "desktop/desktop_fake.h"

namespace nimbo::test {
namespace {

using A = DesktopAction;
using Start = std::function<FakeDesktop()>;
using Change = std::function<void(FakeDesktop&)>;

const std::wstring kNimboId = DisplayIdOf(NimboAt(2, 1, 1920));

// clang-format off
DesktopRequest Request(DesktopAction action, std::wstring displayId = L"", std::string token = "") { return {action, std::move(displayId), L"C:\\data\\desktop.json", std::move(token)}; }
Start Machine(std::vector<Monitor> monitors) { return [=] { return FakeDesktop(monitors); }; }
Start With(Start start, Change change) { return [=] { FakeDesktop fake = start(); change(fake); return fake; }; }
Start Failing(Start start, const char* op, int nth = 0) { return With(start, [=](FakeDesktop& f) { f.fault = FakeDesktop::Fault{op, nth}; }); }
// The machine changes just before the nth capture of the run.
Start Before(Start start, int capture, Change change) { return With(start, [=](FakeDesktop& f) { f.beforeCapture[capture] = change; }); }
Change Set(const char* model, std::uint32_t target, bool Monitor::*flag, bool value) { return [=](FakeDesktop& f) { f.Find(model, target).*flag = value; }; }
Change BreakIdentity(std::uint32_t target) { return Set(kNimboModel, target, &Monitor::identityBroken, true); }
const Change ChangePrimaryMode = [](FakeDesktop& f) { f.Find(kOtherModel, 1).refresh = 75; };
const Change MovePrimary = [](FakeDesktop& f) { f.Find(kOtherModel, 1).y = 200; };
const Change EditJournal = [](FakeDesktop& f) { f.journal->append(" "); };
// clang-format on
constexpr int kAfterDetachApply = 3;  // captures: decide, before save, after save, after apply

// An office desk with one Nimbo right of the primary display, and what
// detaching it and living with that leads to.
const Start Office = Machine({OtherAt(1, 0, 0), NimboAt(2, 1, 1920)});
// clang-format off
const Start Detached = With(Office, [](FakeDesktop& f) { if (!f.Run(Request(A::Detach)).success) throw std::logic_error("scenario detach failed"); });
// clang-format on
const Start Reenabled = With(Detached, Set(kNimboModel, 2, &Monitor::active, true));
const Start Unplugged = With(Detached, Set(kNimboModel, 2, &Monitor::available, false));
const Start Replaced = With(Unplugged, [](FakeDesktop& f) {  // another Nimbo in its place
    f.monitors.push_back(NimboAt(3, 1, 1920));
    f.monitors.back().driver = "0002";
});
// The journal's display id now names another interface: not the owned target.
const Start Redirected =
    With(Unplugged, [](FakeDesktop& f) { f.monitors.push_back(NimboAt(3, 1, 1920)); });
const Start NimboAlone = With(With(Reenabled, Set(kOtherModel, 1, &Monitor::active, false)),
                              [](FakeDesktop& f) { f.Find(kNimboModel, 2).x = 0; });
const Start CorruptJournal = With(Office, [](FakeDesktop& f) { f.journal = "{\"version\":2}"; });
const Start InactiveNimbo = With(Office, Set(kNimboModel, 2, &Monitor::active, false));
const Start PrimaryOnly = Machine({OtherAt(1, 0, 0)});
const Start TwoNimbos = Machine({OtherAt(1, 0, 0), NimboAt(2, 1, 1920), NimboAt(4, 2, 5760)});
const Start NimboInMiddle = Machine({OtherAt(1, 0, 0), NimboAt(2, 1, 1920), OtherAt(5, 2, 5760)});

// Ordered so a run that both drops and writes a journal counts as writing it.
enum class J { Kept, Archived, Written, Deleted };
enum class Token { None, Current, Stale };

struct Failure {
    std::string code, message;
    auto operator<=>(const Failure&) const = default;
};

struct When {
    Start start;
    DesktopAction action;
    std::wstring displayId = L"";
    Token token = Token::None;
};

struct Row {
    When when;
    Failure fails = {};  // none: the action succeeds
    const char* reason = "";
    J journal = J::Kept;
    std::pair<const char*, const char*> shows = {};  // presence and state, when set
    bool offersForget = false;
    const char* name = "";  // failure rows are named by their failure
};

DesktopResult Perform(FakeDesktop& fake, const When& when) {
    const std::string token = when.token == Token::Current ? fake.Revision()
                              : when.token == Token::Stale ? std::string(64, '0')
                                                           : "";
    return fake.Run(Request(when.action, when.displayId, token));
}

J EffectOn(const FakeDesktop& start, const FakeDesktop& end) {
    if (end.archived.size() > start.archived.size())
        return J::Archived;
    if (end.saves > start.saves)
        return J::Written;
    return end.deletes > start.deletes ? J::Deleted : J::Kept;
}

void RunRow(const Row& row) {
    SCOPED_TRACE(*row.name ? row.name : row.fails.message.c_str());
    FakeDesktop fake = row.when.start();
    const FakeDesktop start = fake;
    const DesktopResult r = Perform(fake, row.when);

    EXPECT_EQ(r.success, row.fails.code.empty());
    EXPECT_EQ((Failure{r.errorCode, r.errorMessage}), row.fails);
    EXPECT_EQ(r.reason, row.reason);
    EXPECT_EQ(r.canForget, row.offersForget);
    const auto [presence, state] = row.shows;
    EXPECT_EQ(r.presence, presence ? presence : r.presence);
    EXPECT_EQ(r.state, state ? state : r.success ? r.state : "unknown");
    EXPECT_EQ(fake.violations, std::vector<std::string>{});
    // A row may edit the file itself, so only its presence is compared.
    const J effect = EffectOn(start, fake);
    EXPECT_EQ(effect, row.journal);
    EXPECT_EQ(fake.journal.has_value(),
              effect == J::Written || (effect == J::Kept && start.journal.has_value()));
}

// clang-format off
const Row kRows[] = {
    // Journal none / valid / corrupt x owned target active / inactive / absent x action.
    {.when = {Office, A::Status}, .shows = {"active", "on"}, .name = "none, active: status"},
    {.when = {Office, A::Detach}, .journal = J::Written, .shows = {"inactive", "off"}, .name = "none, active: detach"},
    {.when = {Office, A::Restore}, .reason = "not_owned", .name = "none, active: restore"},
    {.when = {Office, A::Reconcile}, .reason = "not_owned", .name = "none, active: reconcile"},
    {.when = {InactiveNimbo, A::Reconcile}, .reason = "target_not_active", .shows = {"inactive", nullptr}, .name = "none, inactive: reconcile"},
    {.when = {PrimaryOnly, A::Status}, .reason = "target_not_active", .shows = {"absent", nullptr}, .name = "none, absent: status"},
    {.when = {PrimaryOnly, A::Detach}, .fails = {"DESKTOP_TARGET_NOT_FOUND", "no exact active Nimbo or owned recovery target was found"}, .reason = "target_not_active"},
    {.when = {PrimaryOnly, A::Darken, kNimboId}, .fails = {"DESKTOP_TARGET_NOT_FOUND", "the requested exact Nimbo is not an active target"}},
    {.when = {Reenabled, A::Restore}, .journal = J::Deleted, .shows = {"active", "on"}, .name = "valid, active: restore retires"},
    {.when = {Reenabled, A::Reconcile}, .reason = "ownership_retired", .journal = J::Deleted, .name = "valid, active: reconcile retires"},
    {.when = {Reenabled, A::Detach}, .journal = J::Written, .shows = {"inactive", "off"}, .name = "valid, active: detach starts anew"},
    {.when = {Detached, A::Status}, .shows = {"inactive", "off"}, .name = "valid, inactive: status"},
    {.when = {Detached, A::Detach}, .reason = "already_detached", .shows = {nullptr, "off"}, .name = "valid, inactive: detach"},
    {.when = {Detached, A::Restore}, .journal = J::Deleted, .shows = {"active", "on"}, .name = "valid, inactive: restore"},
    {.when = {Detached, A::Reconcile}, .reason = "reconcile_not_eligible", .name = "valid, inactive: reconcile"},
    {.when = {Unplugged, A::Detach}, .fails = {"DESKTOP_TARGET_ABSENT", "the owned Nimbo is no longer physically available"}},
    {.when = {Redirected, A::Restore}, .fails = {"DESKTOP_TARGET_ABSENT", "the exact owned target is not currently available"}, .name = "valid, absent, its display id elsewhere: restore"},
    {.when = {Unplugged, A::Reconcile}, .reason = "reconcile_not_eligible", .name = "valid, absent, no replacement: reconcile"},
    {.when = {Replaced, A::Reconcile}, .reason = "recovery_archived", .journal = J::Archived, .shows = {"active", nullptr}, .name = "valid, absent, replacement: reconcile"},
    {.when = {Replaced, A::Forget, L"", Token::Current}, .reason = "recovery_archived", .journal = J::Archived, .name = "valid, absent, replacement: forget"},
    {.when = {Replaced, A::Status}, .shows = {"absent", "unknown"}, .offersForget = true, .name = "valid, absent, replacement: status"},
    {.when = {CorruptJournal, A::Status}, .fails = {"DESKTOP_JOURNAL_CORRUPT", "desktop journal version unsupported"}, .offersForget = true, .name = "corrupt: status"},
    {.when = {CorruptJournal, A::Forget, L"", Token::Current}, .reason = "recovery_archived", .journal = J::Archived, .name = "corrupt: forget"},
    // Every other failure, one row each, on a machine scripted to reach it.
    {{Detached, A::Restore, L"MONITOR\\KZV2B09\\x\\0001"}, {"DESKTOP_OWNERSHIP_CONFLICT", "another exact target owns the desktop journal"}},
    {{With(Detached, BreakIdentity(2)), A::Restore}, {"DESKTOP_IDENTITY_CHANGED", "the journal interface does not belong to the exact Nimbo display ID"}},
    {{TwoNimbos, A::Detach}, {"DESKTOP_TARGET_AMBIGUOUS", "multiple active Nimbo targets require an exact display-id"}},
    {{With(Office, BreakIdentity(2)), A::Detach}, {"DESKTOP_IDENTITY_CHANGED", "active Nimbo identity does not match its desktop path"}},
    {{Failing(NimboAlone, "darken"), A::Darken, kNimboId}, {"DESKTOP_DARKEN_FAILED", "the display-off request was not issued"}},
    {{Before(Reenabled, 1, BreakIdentity(2)), A::Restore}, {"DESKTOP_IDENTITY_CHANGED", "active target changed before ownership retirement"}},
    {{Failing(Reenabled, "deleteJournal"), A::Reconcile}, {"DESKTOP_JOURNAL_FAILED", "could not release desktop ownership"}},
    {{Before(Reenabled, 2, BreakIdentity(2)), A::Detach}, {"DESKTOP_IDENTITY_CHANGED", "active target changed before new detach"}, "", J::Deleted},
    {{With(Replaced, BreakIdentity(3)), A::Reconcile}, {"DESKTOP_IDENTITY_CHANGED", "active replacement identity does not match its desktop path"}},
    {{Failing(Replaced, "recoveryRevision"), A::Reconcile}, {"DESKTOP_RECOVERY_CHANGED", "valid ownership has no bound recovery revision; journal retained"}},
    {{Before(Replaced, 1, Set(kNimboModel, 3, &Monitor::available, false)), A::Reconcile}, {"DESKTOP_IDENTITY_CHANGED", "display identity changed before reconnect archive"}},
    {{Failing(Replaced, "archiveJournal"), A::Reconcile}, {"DESKTOP_ARCHIVE_FAILED", "recovery archive failed; original record retained"}},
    {{Before(Replaced, 1, EditJournal), A::Reconcile}, {"DESKTOP_RECOVERY_CHANGED", "recovery record changed before reconnect archive; journal retained"}},
    {{Replaced, A::Forget, L"", Token::Stale}, {"DESKTOP_RECOVERY_CHANGED", "recovery record changed; read status and confirm again"}},
    {{Detached, A::Forget, L"", Token::Current}, {"DESKTOP_RECOVERY_UNSAFE", "archive requires the old target to be absent and one verified active Nimbo with no inactive Nimbo"}},
    {{Before(Replaced, 1, BreakIdentity(3)), A::Forget, L"", Token::Current}, {"DESKTOP_IDENTITY_CHANGED", "display identity changed before recovery archive"}},
    {{Before(Replaced, 1, EditJournal), A::Forget, L"", Token::Current}, {"DESKTOP_RECOVERY_CHANGED", "recovery record changed before archive; confirm again"}},
    {{With(Detached, ChangePrimaryMode), A::Restore}, {"DESKTOP_TOPOLOGY_CHANGED", "remaining desktop paths changed; saved topology was not applied"}},
    {{Failing(Detached, "validateTopology"), A::Restore}, {"DESKTOP_VALIDATE_FAILED", "saved exact target cannot be safely reactivated"}},
    {{Before(Detached, 1, ChangePrimaryMode), A::Restore}, {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed before restore"}},
    {{Before(Detached, 1, BreakIdentity(2)), A::Restore}, {"DESKTOP_IDENTITY_CHANGED", "the owned target identity changed before restore"}},
    {{Failing(Detached, "applyTopology"), A::Restore}, {"DESKTOP_APPLY_FAILED", "restore failed; journal retained"}},
    {{Before(Detached, 2, Set(kNimboModel, 2, &Monitor::active, false)), A::Restore}, {"DESKTOP_VERIFY_FAILED", "restored desktop was not confirmed; journal retained"}},
    {{Failing(Detached, "deleteJournal"), A::Restore}, {"DESKTOP_JOURNAL_FAILED", "desktop restored but ownership could not be released"}},
    {{NimboInMiddle, A::Detach}, {"DESKTOP_UNSUPPORTED_TOPOLOGY", "cannot safely remove this target"}},
    {{Failing(Office, "validateTopology"), A::Detach}, {"DESKTOP_VALIDATE_FAILED", "target removal could not be validated"}},
    {{Before(Office, 1, ChangePrimaryMode), A::Detach}, {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed before detach"}},
    {{Failing(Office, "saveJournal"), A::Detach}, {"DESKTOP_JOURNAL_FAILED", "could not persist recovery before detach"}},
    {{Before(Office, 2, ChangePrimaryMode), A::Detach}, {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed while recovery was persisted; journal retained"}, "", J::Written},
    {{Failing(Office, "applyTopology"), A::Detach}, {"DESKTOP_APPLY_FAILED", "detach failed; recovery journal retained"}, "", J::Written},
    {{Before(Failing(Office, "saveJournal", 1), kAfterDetachApply, MovePrimary), A::Detach}, {"DESKTOP_JOURNAL_FAILED", "detach differed from plan and its observed recovery baseline could not be persisted; original journal retained"}, "", J::Written},
    {{Before(Office, kAfterDetachApply, MovePrimary), A::Detach}, {"DESKTOP_VERIFY_FAILED", "desktop detach was not confirmed; recovery journal retained"}, "", J::Written},
    {{Before(Detached, 1, [](auto&) { throw 7; }), A::Restore}, {"DESKTOP_IO_FAILED", "unexpected desktop failure"}},
};
// clang-format on

TEST(DesktopEngine, StateTableAndEveryFailure) {
    for (const Row& row : kRows)
        RunRow(row);
}

// For every call the engine makes in a successful detach, restore, reconcile
// and forget, re-run with exactly that call failing and check the safety
// rules. The calls come from the recorded successful run, so the sweep
// follows the engine as it changes.
// clang-format off
const When kSweep[] = {
    {Office, A::Detach}, {Detached, A::Restore}, {Reenabled, A::Restore}, {Reenabled, A::Detach},
    {Replaced, A::Reconcile}, {Reenabled, A::Reconcile}, {Replaced, A::Forget, L"", Token::Current},
    {CorruptJournal, A::Forget, L"", Token::Current},
};
// clang-format on

// The rows are the catalogue of what the engine may report, with the catch-all
// and one corrupt-journal message passed through from the loader; the darken
// refusals and the only-display guard, which no sweep reaches, are end-to-end cases.
bool IsKnown(const DesktopResult& r) {
    std::set<Failure> known = {{"DESKTOP_IO_FAILED", kInjectedFailure}};
    for (const Row& row : kRows)
        known.insert(row.fails);
    const Failure reported{r.errorCode, r.errorMessage};
    return r.success ? reported == Failure{} : reported != Failure{} && known.count(reported);
}

void CheckInvariants(const FakeDesktop& start, const FakeDesktop& end, const DesktopResult& r) {
    EXPECT_EQ(end.violations, std::vector<std::string>{});
    EXPECT_TRUE(IsKnown(r)) << r.errorCode << ": " << r.errorMessage;
    EXPECT_EQ(r.state, r.success ? r.state : "unknown");
    EXPECT_TRUE(end.journal == start.journal || EffectOn(start, end) != J::Kept);
    if (!r.success && end.saves > start.saves) {
        // A recovery written in this run stays, and the failure says so.
        EXPECT_TRUE(end.journal.has_value());
        EXPECT_TRUE(r.errorCode == "DESKTOP_IO_FAILED" ||
                    r.errorMessage.ends_with("journal retained"))
            << r.errorMessage;
    }
    if (end.journal && end.saves > start.saves) {
        // What was written restores the desktop the run started from.
        EXPECT_EQ(ParseJournal(*end.journal).before.snapshot, start.Capture().snapshot);
    }
    for (const Monitor& m : end.monitors)
        EXPECT_TRUE(m.model != kNimboModel || !m.available || m.active || end.journal)
            << "Nimbo " << m.targetId << " left off without journal";
}

TEST(DesktopFaultSweep, EveryCallOfEveryMutatingActionFailsSafely) {
    int runs = 0;
    for (const When& c : kSweep) {
        SCOPED_TRACE(static_cast<int>(&c - kSweep));
        FakeDesktop baseline = c.start();
        const DesktopResult ok = Perform(baseline, c);
        ASSERT_TRUE(ok.success) << ok.errorCode << ": " << ok.errorMessage;
        const std::vector<std::string> sequence = baseline.calls;

        for (std::size_t position = 0; position < sequence.size(); ++position) {
            const std::string& op = sequence[position];
            const auto nth = std::count(sequence.begin(), sequence.begin() + position, op);
            for (const bool throws : {false, true}) {
                // An empty answer from the loader means "no file", which is
                // not a failure it can have while one exists.
                if (!throws && op == "loadJournal")
                    continue;
                // clang-format off
                SCOPED_TRACE(op + " #" + std::to_string(position) + (throws ? " throws" : " fails"));
                const FakeDesktop start = c.start();
                FakeDesktop fake = start;
                fake.fault = FakeDesktop::Fault{op, static_cast<int>(nth), throws};
                const DesktopResult r = Perform(fake, c);
                ++runs;
                ASSERT_GT(fake.calls.size(), position);
                EXPECT_TRUE(std::equal(sequence.begin(), sequence.begin() + position + 1, fake.calls.begin())) << "the run diverged before the failing call";
                // clang-format on
                CheckInvariants(start, fake, r);
                EXPECT_EQ(r.errorCode, throws ? "DESKTOP_IO_FAILED" : r.errorCode);
            }
        }
    }
    EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace nimbo::test
