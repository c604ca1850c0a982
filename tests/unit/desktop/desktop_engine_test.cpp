// The desktop engine on the scripted machine: every row of its state table
// and every failure it can report.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <set>
#include <stdexcept>

#include "desktop/desktop_fake.h"

namespace nimbo::test {
namespace {

using A = DesktopAction;
using Start = std::function<FakeDesktop()>;

Monitor Primary() {
    return OtherAt(1, 0, 0);
}
Monitor OwnNimbo() {
    return NimboAt(2, 1, 1920);
}
Monitor OtherNimbo() {  // plugged in later in place of OwnNimbo
    Monitor m = NimboAt(3, 1, 1920);
    m.driver = "0002";
    return m;
}
std::wstring NimboId() {
    return DisplayIdOf(OwnNimbo());
}

DesktopRequest Request(DesktopAction action, std::wstring displayId = L"", std::string token = "") {
    return {action, std::move(displayId), L"C:\\data\\desktop.json", std::move(token)};
}

// The situations every test starts from: an office desk with one Nimbo right
// of the primary display, and what detaching it and living with that leads to.
FakeDesktop Office() {
    return FakeDesktop({Primary(), OwnNimbo()});
}
FakeDesktop Detached() {
    FakeDesktop fake = Office();
    if (!fake.Run(Request(DesktopAction::Detach)).success)
        throw std::logic_error("scenario detach failed");
    return fake;
}
FakeDesktop Reenabled() {
    FakeDesktop fake = Detached();
    fake.Find(kNimboModel, 2).active = true;
    return fake;
}
FakeDesktop Unplugged() {
    FakeDesktop fake = Detached();
    fake.Find(kNimboModel, 2).available = false;
    return fake;
}
FakeDesktop Replaced() {
    FakeDesktop fake = Unplugged();
    fake.monitors.push_back(OtherNimbo());
    return fake;
}
FakeDesktop NimboAlone() {
    FakeDesktop fake = Reenabled();
    fake.Find(kNimboModel, 2).x = 0;
    fake.Find(kOtherModel, 1).active = false;
    return fake;
}
FakeDesktop CorruptJournal() {  // not a journal the engine accepts
    FakeDesktop fake = Office();
    fake.journal = "{\"version\":2}";
    return fake;
}

FakeDesktop PrimaryOnly() {
    return FakeDesktop({Primary()});
}
FakeDesktop NimboOnly() {
    return FakeDesktop({NimboAt(2, 0, 0)});
}
FakeDesktop InactiveNimbo() {
    Monitor nimbo = OwnNimbo();
    nimbo.active = false;
    return FakeDesktop({Primary(), nimbo});
}
FakeDesktop TwoNimbos() {
    return FakeDesktop({Primary(), OwnNimbo(), NimboAt(4, 2, 5760)});
}
FakeDesktop NimboInTheMiddle() {
    return FakeDesktop({Primary(), OwnNimbo(), OtherAt(5, 2, 5760)});
}

enum class JournalEffect { Kept, Deleted, Written, Archived };
enum class Token { None, Current, Stale };

struct Failure {
    std::string code;
    std::string message;
    auto operator<=>(const Failure&) const = default;
};

struct When {
    Start start;
    DesktopAction action;
    std::wstring displayId = L"";
    Token token = Token::None;
};

struct Row {
    const char* name = "";  // failure rows are named by their failure
    When when;
    Failure fails = {};  // none: the action succeeds
    const char* reason = "";
    JournalEffect journal = JournalEffect::Kept;
    std::pair<const char*, const char*> shows = {};  // presence and state, when set
    bool offersForget = false;
};

Start With(Start start, std::function<void(FakeDesktop&)> change) {
    return [=] {
        FakeDesktop fake = start();
        change(fake);
        return fake;
    };
}
Start Failing(Start start, const char* op, int nth = 0) {
    return With(start, [=](FakeDesktop& f) { f.fault = FakeDesktop::Fault{op, nth}; });
}
// The machine changes just before the nth capture of the run.
Start Before(Start start, int capture, std::function<void(FakeDesktop&)> change) {
    return With(start, [=](FakeDesktop& f) { f.beforeCapture[capture] = change; });
}
std::function<void(FakeDesktop&)> BreakIdentity(std::uint32_t target) {
    return [=](FakeDesktop& f) { f.Find(kNimboModel, target).identityBroken = true; };
}
void ChangePrimaryMode(FakeDesktop& f) {
    f.Find(kOtherModel, 1).refresh = 75;
}
void MovePrimary(FakeDesktop& f) {
    f.Find(kOtherModel, 1).y = 200;
}
void EditJournal(FakeDesktop& f) {
    f.journal->append(" ");
}
constexpr int kAfterDetachApply = 3;  // captures: decide, before save, after save, after apply

DesktopResult Perform(FakeDesktop& fake, const When& when) {
    const std::string token = when.token == Token::Current ? fake.Revision()
                              : when.token == Token::Stale ? std::string(64, '0')
                                                           : "";
    return fake.Run(Request(when.action, when.displayId, token));
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
    if (presence) {
        EXPECT_EQ(r.presence, presence);
    }
    if (state || !r.success) {
        EXPECT_EQ(r.state, state ? state : "unknown");
    }
    EXPECT_EQ(fake.violations, std::vector<std::string>{});
    const bool archivedOne = fake.archived.size() == start.archived.size() + 1;
    switch (row.journal) {
        case JournalEffect::Kept:  // by the engine; a row may edit the file itself
            EXPECT_TRUE(fake.journal.has_value() == start.journal.has_value() &&
                        fake.saves == start.saves && fake.deletes == start.deletes &&
                        fake.archived.size() == start.archived.size());
            break;
        case JournalEffect::Deleted:
            EXPECT_TRUE(start.journal && !fake.journal && fake.deletes > start.deletes);
            break;
        case JournalEffect::Written:
            EXPECT_TRUE(fake.journal && fake.saves > start.saves);
            break;
        case JournalEffect::Archived:
            EXPECT_TRUE(start.journal && !fake.journal && archivedOne);
            break;
    }
}

// Journal none / valid / corrupt x owned target active / inactive / absent x action.
const Row kStateTable[] = {
    {.name = "none, active: status reports",
     .when = {Office, A::Status},
     .shows = {"active", "on"}},
    {.name = "none, active: detach detaches",
     .when = {Office, A::Detach},
     .journal = JournalEffect::Written,
     .shows = {"inactive", "off"}},
    {.name = "none, active: restore", .when = {Office, A::Restore}, .reason = "not_owned"},
    {.name = "none, active: reconcile", .when = {Office, A::Reconcile}, .reason = "not_owned"},
    {.name = "none, active: forget without a journal",
     .when = {Office, A::Forget},
     .fails = {"DESKTOP_RECOVERY_CHANGED",
               "recovery record changed; read status and confirm again"}},
    {.name = "none, inactive Nimbo: reconcile",
     .when = {InactiveNimbo, A::Reconcile},
     .reason = "target_not_active",
     .shows = {"inactive", nullptr}},
    {.name = "none, absent: status",
     .when = {PrimaryOnly, A::Status},
     .reason = "target_not_active",
     .shows = {"absent", nullptr}},
    {.name = "none, absent: detach",
     .when = {PrimaryOnly, A::Detach},
     .fails = {"DESKTOP_TARGET_NOT_FOUND",
               "no exact active Nimbo or owned recovery target was found"},
     .reason = "target_not_active"},
    {.name = "none, absent: darken",
     .when = {PrimaryOnly, A::Darken, NimboId()},
     .fails = {"DESKTOP_TARGET_NOT_FOUND", "the requested exact Nimbo is not an active target"}},
    {.name = "valid, active: restore retires",
     .when = {Reenabled, A::Restore},
     .journal = JournalEffect::Deleted,
     .shows = {"active", "on"}},
    {.name = "valid, active: reconcile retires",
     .when = {Reenabled, A::Reconcile},
     .reason = "ownership_retired",
     .journal = JournalEffect::Deleted},
    {.name = "valid, active: detach starts anew",
     .when = {Reenabled, A::Detach},
     .journal = JournalEffect::Written,
     .shows = {"inactive", "off"}},
    {.name = "valid, inactive: status",
     .when = {Detached, A::Status},
     .shows = {"inactive", "off"}},
    {.name = "valid, inactive: detach",
     .when = {Detached, A::Detach},
     .reason = "already_detached",
     .shows = {nullptr, "off"}},
    {.name = "valid, inactive: restore restores",
     .when = {Detached, A::Restore},
     .journal = JournalEffect::Deleted,
     .shows = {"active", "on"}},
    {.name = "valid, inactive: reconcile",
     .when = {Detached, A::Reconcile},
     .reason = "reconcile_not_eligible"},
    {.name = "valid, absent: restore",
     .when = {Unplugged, A::Restore},
     .fails = {"DESKTOP_TARGET_ABSENT", "the exact owned target is not currently available"}},
    {.name = "valid, absent: detach",
     .when = {Unplugged, A::Detach},
     .fails = {"DESKTOP_TARGET_ABSENT", "the owned Nimbo is no longer physically available"}},
    {.name = "valid, absent, no replacement: reconcile",
     .when = {Unplugged, A::Reconcile},
     .reason = "reconcile_not_eligible"},
    {.name = "valid, absent, replacement: reconcile archives",
     .when = {Replaced, A::Reconcile},
     .reason = "recovery_archived",
     .journal = JournalEffect::Archived,
     .shows = {"active", nullptr}},
    {.name = "valid, absent, replacement: forget archives",
     .when = {Replaced, A::Forget, L"", Token::Current},
     .reason = "recovery_archived",
     .journal = JournalEffect::Archived},
    {.name = "valid, absent, replacement: status offers forget",
     .when = {Replaced, A::Status},
     .shows = {"absent", "unknown"},
     .offersForget = true},
    {.name = "corrupt: status offers forget",
     .when = {CorruptJournal, A::Status},
     .fails = {"DESKTOP_JOURNAL_CORRUPT", "desktop journal version unsupported"},
     .offersForget = true},
    {.name = "corrupt: restore",
     .when = {CorruptJournal, A::Restore},
     .fails = {"DESKTOP_JOURNAL_CORRUPT", "desktop journal version unsupported"}},
    {.name = "corrupt: forget archives",
     .when = {CorruptJournal, A::Forget, L"", Token::Current},
     .reason = "recovery_archived",
     .journal = JournalEffect::Archived},
    {.name = "valid, active alone: darken",
     .when = {NimboAlone, A::Darken, NimboId()},
     .shows = {nullptr, "on"}},
};

// Every other failure, one row each, on a machine scripted to reach it.
const Row kFailures[] = {
    {.when = {Detached, A::Restore, L"MONITOR\\KZV2B09\\x\\0001"},
     .fails = {"DESKTOP_OWNERSHIP_CONFLICT", "another exact target owns the desktop journal"}},
    {.when = {With(Detached, BreakIdentity(2)), A::Restore},
     .fails = {"DESKTOP_IDENTITY_CHANGED",
               "the journal interface does not belong to the exact Nimbo display ID"}},
    {.when = {TwoNimbos, A::Detach},
     .fails = {"DESKTOP_TARGET_AMBIGUOUS",
               "multiple active Nimbo targets require an exact display-id"}},
    {.when = {With(Office, BreakIdentity(2)), A::Detach},
     .fails = {"DESKTOP_IDENTITY_CHANGED",
               "active Nimbo identity does not match its desktop path"}},
    {.when = {Office, A::Darken, NimboId()},
     .fails = {"DESKTOP_NOT_OWNED", "darken requires a Nimbo owned by a valid journal"}},
    {.when = {Detached, A::Darken, NimboId()},
     .fails = {"DESKTOP_TARGET_INACTIVE", "darken requires the owned Nimbo to be active"}},
    {.when = {Reenabled, A::Darken, NimboId()},
     .fails = {"DESKTOP_NOT_ONLY_DISPLAY",
               "darken is only for a Nimbo that is the only active display"}},
    {.when = {Failing(NimboAlone, "darken"), A::Darken, NimboId()},
     .fails = {"DESKTOP_DARKEN_FAILED", "the display-off request was not issued"}},
    {.when = {Before(Reenabled, 1, BreakIdentity(2)), A::Restore},
     .fails = {"DESKTOP_IDENTITY_CHANGED", "active target changed before ownership retirement"}},
    {.when = {Failing(Reenabled, "deleteJournal"), A::Reconcile},
     .fails = {"DESKTOP_JOURNAL_FAILED", "could not release desktop ownership"}},
    {.when = {Before(Reenabled, 2, BreakIdentity(2)), A::Detach},
     .fails = {"DESKTOP_IDENTITY_CHANGED", "active target changed before new detach"},
     .journal = JournalEffect::Deleted},
    {.when = {With(Replaced, BreakIdentity(3)), A::Reconcile},
     .fails = {"DESKTOP_IDENTITY_CHANGED",
               "active replacement identity does not match its desktop path"}},
    {.when = {Failing(Replaced, "recoveryRevision"), A::Reconcile},
     .fails = {"DESKTOP_RECOVERY_CHANGED",
               "valid ownership has no bound recovery revision; journal retained"}},
    {.when = {Before(Replaced, 1, [](auto& f) { f.Find(kNimboModel, 3).available = false; }),
              A::Reconcile},
     .fails = {"DESKTOP_IDENTITY_CHANGED", "display identity changed before reconnect archive"}},
    {.when = {Failing(Replaced, "archiveJournal"), A::Reconcile},
     .fails = {"DESKTOP_ARCHIVE_FAILED", "recovery archive failed; original record retained"}},
    {.when = {Before(Replaced, 1, EditJournal), A::Reconcile},
     .fails = {"DESKTOP_RECOVERY_CHANGED",
               "recovery record changed before reconnect archive; journal retained"}},
    {.when = {Replaced, A::Forget, L"", Token::Stale},
     .fails = {"DESKTOP_RECOVERY_CHANGED",
               "recovery record changed; read status and confirm again"}},
    {.when = {Detached, A::Forget, L"", Token::Current},
     .fails = {"DESKTOP_RECOVERY_UNSAFE",
               "archive requires the old target to be absent and one verified active Nimbo with "
               "no inactive Nimbo"}},
    {.when = {Before(Replaced, 1, BreakIdentity(3)), A::Forget, L"", Token::Current},
     .fails = {"DESKTOP_IDENTITY_CHANGED", "display identity changed before recovery archive"}},
    {.when = {Before(Replaced, 1, EditJournal), A::Forget, L"", Token::Current},
     .fails = {"DESKTOP_RECOVERY_CHANGED",
               "recovery record changed before archive; confirm again"}},
    {.when = {With(Detached, ChangePrimaryMode), A::Restore},
     .fails = {"DESKTOP_TOPOLOGY_CHANGED",
               "remaining desktop paths changed; saved topology was not applied"}},
    {.when = {Failing(Detached, "validateTopology"), A::Restore},
     .fails = {"DESKTOP_VALIDATE_FAILED", "saved exact target cannot be safely reactivated"}},
    {.when = {Before(Detached, 1, ChangePrimaryMode), A::Restore},
     .fails = {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed before restore"}},
    {.when = {Before(Detached, 1, BreakIdentity(2)), A::Restore},
     .fails = {"DESKTOP_IDENTITY_CHANGED", "the owned target identity changed before restore"}},
    {.when = {Failing(Detached, "applyTopology"), A::Restore},
     .fails = {"DESKTOP_APPLY_FAILED", "restore failed; journal retained"}},
    {.when = {Before(Detached, 2, [](auto& f) { f.Find(kNimboModel, 2).active = false; }),
              A::Restore},
     .fails = {"DESKTOP_VERIFY_FAILED", "restored desktop was not confirmed; journal retained"}},
    {.when = {Failing(Detached, "deleteJournal"), A::Restore},
     .fails = {"DESKTOP_JOURNAL_FAILED", "desktop restored but ownership could not be released"}},
    {.when = {NimboOnly, A::Detach},
     .fails = {"DESKTOP_ONLY_DISPLAY", "cannot remove the only active desktop display"}},
    {.when = {NimboInTheMiddle, A::Detach},
     .fails = {"DESKTOP_UNSUPPORTED_TOPOLOGY", "cannot safely remove this target"}},
    {.when = {Failing(Office, "validateTopology"), A::Detach},
     .fails = {"DESKTOP_VALIDATE_FAILED", "target removal could not be validated"}},
    {.when = {Before(Office, 1, ChangePrimaryMode), A::Detach},
     .fails = {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed before detach"}},
    {.when = {Failing(Office, "saveJournal"), A::Detach},
     .fails = {"DESKTOP_JOURNAL_FAILED", "could not persist recovery before detach"}},
    {.when = {Before(Office, 2, ChangePrimaryMode), A::Detach},
     .fails = {"DESKTOP_TOPOLOGY_CHANGED",
               "desktop changed while recovery was persisted; journal retained"},
     .journal = JournalEffect::Written},
    {.when = {Failing(Office, "applyTopology"), A::Detach},
     .fails = {"DESKTOP_APPLY_FAILED", "detach failed; recovery journal retained"},
     .journal = JournalEffect::Written},
    {.when = {Before(Failing(Office, "saveJournal", 1), kAfterDetachApply, MovePrimary), A::Detach},
     .fails = {"DESKTOP_JOURNAL_FAILED",
               "detach differed from plan and its observed recovery baseline could not be "
               "persisted; original journal retained"},
     .journal = JournalEffect::Written},
    {.when = {Before(Office, kAfterDetachApply, MovePrimary), A::Detach},
     .fails = {"DESKTOP_VERIFY_FAILED",
               "desktop detach was not confirmed; recovery journal retained"},
     .journal = JournalEffect::Written},
    {.when = {Before(Detached, 1, [](auto&) { throw 7; }), A::Restore},
     .fails = {"DESKTOP_IO_FAILED", "unexpected desktop failure"}},
};

TEST(DesktopEngine, StateTable) {
    for (const Row& row : kStateTable)
        RunRow(row);
}

TEST(DesktopEngine, EveryFailure) {
    for (const Row& row : kFailures)
        RunRow(row);
}

// The rows are the catalogue of what the engine reports: every fixed failure
// but the pending-recovery guard, which retirement always pre-empts, plus the
// catch-all and one corrupt-journal message passed through from the loader.
std::set<Failure> Catalogue() {
    std::set<Failure> failures;
    for (const Row& row : kStateTable)
        failures.insert(row.fails);
    for (const Row& row : kFailures)
        failures.insert(row.fails);
    failures.erase(Failure{});
    return failures;
}

TEST(DesktopEngine, RowsCoverEveryFailure) {
    EXPECT_EQ(Catalogue().size(), 42u);
}

TEST(DesktopEngine, DetachThenRestoreBringsTheDesktopBackExactly) {
    FakeDesktop fake = Office();
    const std::string original = fake.Capture().snapshot;
    ASSERT_TRUE(fake.Run(Request(A::Detach)).success);
    EXPECT_FALSE(fake.Find(kNimboModel, 2).active);
    ASSERT_TRUE(fake.Run(Request(A::Restore, NimboId())).success);
    EXPECT_EQ(fake.Capture().snapshot, original);
    EXPECT_FALSE(fake.journal.has_value());
}

TEST(DesktopEngine, RestoreChecksAgainstTheObservedBaseline) {
    FakeDesktop fake = Before(Office, kAfterDetachApply, MovePrimary)();
    EXPECT_EQ(fake.Run(Request(A::Detach)).errorCode, "DESKTOP_VERIFY_FAILED");
    ASSERT_TRUE(fake.journal && ParseJournal(*fake.journal).observedAfter);
    fake.beforeCapture.clear();
    const DesktopResult restored = fake.Run(Request(A::Restore));
    EXPECT_TRUE(restored.success) << restored.errorMessage;
    EXPECT_FALSE(fake.journal.has_value());
}

TEST(DesktopEngine, RefusalsAndRetirementsNeverApply) {
    const When cases[] = {{NimboOnly, A::Detach},
                          {Reenabled, A::Restore},
                          {Reenabled, A::Reconcile},
                          {Unplugged, A::Restore},
                          {Detached, A::Forget, L"", Token::Current}};
    for (const When& when : cases) {
        FakeDesktop fake = when.start();
        (void)Perform(fake, when);
        EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "applyTopology"), 0);
    }
}

// For every call the engine makes in a successful detach, restore, reconcile
// and forget, re-run with exactly that call failing and check the safety
// rules. The calls come from the recorded successful run, so the sweep
// follows the engine as it changes.
const Row kSweep[] = {
    {.name = "detach", .when = {Office, A::Detach}},
    {.name = "restore", .when = {Detached, A::Restore}},
    {.name = "restore after manual re-enable", .when = {Reenabled, A::Restore}},
    {.name = "detach after manual re-enable", .when = {Reenabled, A::Detach}},
    {.name = "reconcile with replacement", .when = {Replaced, A::Reconcile}},
    {.name = "reconcile after manual re-enable", .when = {Reenabled, A::Reconcile}},
    {.name = "forget with replacement", .when = {Replaced, A::Forget, L"", Token::Current}},
    {.name = "forget corrupt journal", .when = {CorruptJournal, A::Forget, L"", Token::Current}},
};

bool IsKnown(const DesktopResult& r) {
    static const std::set<Failure> known = Catalogue();
    const Failure reported{r.errorCode, r.errorMessage};
    if (r.success)
        return reported == Failure{};
    return known.count(reported) || reported == Failure{"DESKTOP_IO_FAILED", kInjectedFailure};
}

void CheckInvariants(const FakeDesktop& start, const FakeDesktop& end, const DesktopResult& r) {
    EXPECT_EQ(end.violations, std::vector<std::string>{});
    EXPECT_TRUE(IsKnown(r)) << r.errorCode << ": " << r.errorMessage;
    if (!r.success) {
        EXPECT_EQ(r.state, "unknown");
    }
    if (end.journal != start.journal) {
        EXPECT_TRUE(end.saves > start.saves || end.deletes > start.deletes ||
                    end.archived.size() > start.archived.size());
    }
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
    for (const Monitor& m : end.monitors) {
        if (m.model == kNimboModel && m.available && !m.active) {
            EXPECT_TRUE(end.journal.has_value())
                << "Nimbo " << m.targetId << " left off without journal";
        }
    }
}

TEST(DesktopFaultSweep, EveryCallOfEveryMutatingActionFailsSafely) {
    int runs = 0;
    for (const Row& c : kSweep) {
        SCOPED_TRACE(c.name);
        FakeDesktop baseline = c.when.start();
        const DesktopResult ok = Perform(baseline, c.when);
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
                SCOPED_TRACE(op + " #" + std::to_string(position) +
                             (throws ? " throws" : " fails"));
                const FakeDesktop start = c.when.start();
                FakeDesktop fake = start;
                fake.fault = FakeDesktop::Fault{op, static_cast<int>(nth), throws};
                const DesktopResult r = Perform(fake, c.when);
                ++runs;
                ASSERT_GT(fake.calls.size(), position);
                EXPECT_TRUE(std::equal(sequence.begin(), sequence.begin() + position + 1,
                                       fake.calls.begin()))
                    << "the run diverged before the failing call";
                CheckInvariants(start, fake, r);
                if (throws) {
                    EXPECT_EQ(r.errorCode, "DESKTOP_IO_FAILED");
                }
            }
        }
    }
    RecordProperty("faultRuns", runs);
    std::cout << "[ sweep ] " << runs << " failing runs over " << std::size(kSweep)
              << " starting points\n";
    EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace nimbo::test
