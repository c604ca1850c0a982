// The desktop engine on the scripted machine: every row of its state table
// and every failure it can report.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "desktop/desktop_scenarios.h"

namespace nimbo::test {
namespace {

using A = DesktopAction;

enum class JournalEffect { None, Kept, Deleted, Written, Archived };
enum class Token { None, Current, Stale };

struct Row {
    const char* name;
    std::function<FakeDesktop()> start;
    DesktopAction action;
    std::wstring displayId = L"";
    Token token = Token::None;
    bool success = false;
    const char* code = "";
    const char* message = "";
    const char* reason = "";
    JournalEffect journal = JournalEffect::Kept;
    const char* presence = nullptr;  // checked when set
    const char* state = nullptr;
};

// Starts from `start` after `change` scripts the machine.
std::function<FakeDesktop()> With(FakeDesktop (*start)(),
                                  std::function<void(FakeDesktop&)> change) {
    return [=] {
        FakeDesktop fake = start();
        change(fake);
        return fake;
    };
}

void BreakIdentity(FakeDesktop& f, std::uint32_t target) {
    f.Find(kNimboModel, target).identityBroken = true;
}
void ChangePrimaryMode(FakeDesktop& f) {
    f.Find(kOtherModel, 1).refresh = 75;
}
void ShiftPrimaryAfterApply(FakeDesktop& f) {
    f.afterApply = [](std::vector<Monitor>& m) { m[0].y = 200; };
}

void RunRow(const Row& row) {
    SCOPED_TRACE(row.name);
    FakeDesktop fake = row.start();
    const std::optional<std::string> before = fake.journal;
    const std::size_t archivedBefore = fake.archived.size();
    const int savesBefore = fake.saves;
    std::string token;
    if (row.token == Token::Current)
        token = fake.Revision();
    if (row.token == Token::Stale)
        token = std::string(64, '0');
    const DesktopResult r = fake.Run(Request(row.action, row.displayId, token));

    EXPECT_EQ(r.success, row.success);
    EXPECT_EQ(r.errorCode, row.code);
    EXPECT_EQ(r.errorMessage, row.message);
    EXPECT_EQ(r.reason, row.reason);
    if (!r.success) {
        EXPECT_EQ(r.state, "unknown");
    }
    if (row.presence) {
        EXPECT_EQ(r.presence, row.presence);
    }
    if (row.state) {
        EXPECT_EQ(r.state, row.state);
    }
    EXPECT_EQ(fake.violations, std::vector<std::string>{});
    switch (row.journal) {
        case JournalEffect::None:
            EXPECT_FALSE(before || fake.journal);
            break;
        case JournalEffect::Kept:
            EXPECT_EQ(fake.journal, before);
            break;
        case JournalEffect::Deleted:
            EXPECT_TRUE(before && !fake.journal && fake.archived.size() == archivedBefore);
            break;
        case JournalEffect::Written:
            EXPECT_TRUE(fake.journal && fake.saves > savesBefore);
            break;
        case JournalEffect::Archived:
            EXPECT_TRUE(before && !fake.journal && fake.archived.size() == archivedBefore + 1);
            break;
    }
}

// The state table: journal (none / valid / corrupt) x target entry x attached.
const Row kStateRows[] = {
    {.name = "none, active: status reports",
     .start = Office,
     .action = A::Status,
     .success = true,
     .journal = JournalEffect::None,
     .presence = "active",
     .state = "on"},
    {.name = "none, active: detach detaches",
     .start = Office,
     .action = A::Detach,
     .success = true,
     .journal = JournalEffect::Written,
     .presence = "inactive",
     .state = "off"},
    {.name = "none, active: restore",
     .start = Office,
     .action = A::Restore,
     .success = true,
     .reason = "not_owned",
     .journal = JournalEffect::None},
    {.name = "none, active: reconcile",
     .start = Office,
     .action = A::Reconcile,
     .success = true,
     .reason = "not_owned",
     .journal = JournalEffect::None},
    {.name = "none, none found: status",
     .start = [] { return FakeDesktop({Primary()}); },
     .action = A::Status,
     .success = true,
     .reason = "target_not_active",
     .journal = JournalEffect::None,
     .presence = "absent"},
    {.name = "none, inactive Nimbo: reconcile",
     .start =
         [] {
             auto n = OwnNimbo();
             n.active = false;
             return FakeDesktop({Primary(), n});
         },
     .action = A::Reconcile,
     .success = true,
     .reason = "target_not_active",
     .journal = JournalEffect::None,
     .presence = "inactive"},
    {.name = "none, none found: detach",
     .start = [] { return FakeDesktop({Primary()}); },
     .action = A::Detach,
     .code = "DESKTOP_TARGET_NOT_FOUND",
     .message = "no exact active Nimbo or owned recovery target was found",
     .reason = "target_not_active",
     .journal = JournalEffect::None},
    {.name = "none, none found: darken",
     .start = [] { return FakeDesktop({Primary()}); },
     .action = A::Darken,
     .displayId = NimboId(),
     .code = "DESKTOP_TARGET_NOT_FOUND",
     .message = "the requested exact Nimbo is not an active target",
     .journal = JournalEffect::None},
    {.name = "valid, active: restore retires",
     .start = Reenabled,
     .action = A::Restore,
     .success = true,
     .journal = JournalEffect::Deleted,
     .presence = "active",
     .state = "on"},
    {.name = "valid, active: reconcile retires",
     .start = Reenabled,
     .action = A::Reconcile,
     .success = true,
     .reason = "ownership_retired",
     .journal = JournalEffect::Deleted},
    {.name = "valid, active: detach starts anew",
     .start = Reenabled,
     .action = A::Detach,
     .success = true,
     .journal = JournalEffect::Written,
     .presence = "inactive",
     .state = "off"},
    {.name = "valid, inactive: status",
     .start = Detached,
     .action = A::Status,
     .success = true,
     .presence = "inactive",
     .state = "off"},
    {.name = "valid, inactive: detach",
     .start = Detached,
     .action = A::Detach,
     .success = true,
     .reason = "already_detached",
     .state = "off"},
    {.name = "valid, inactive: restore restores",
     .start = Detached,
     .action = A::Restore,
     .success = true,
     .journal = JournalEffect::Deleted,
     .presence = "active",
     .state = "on"},
    {.name = "valid, inactive: reconcile",
     .start = Detached,
     .action = A::Reconcile,
     .success = true,
     .reason = "reconcile_not_eligible"},
    {.name = "valid, absent: restore",
     .start = Unplugged,
     .action = A::Restore,
     .code = "DESKTOP_TARGET_ABSENT",
     .message = "the exact owned target is not currently available"},
    {.name = "valid, absent: detach",
     .start = Unplugged,
     .action = A::Detach,
     .code = "DESKTOP_TARGET_ABSENT",
     .message = "the owned Nimbo is no longer physically available"},
    {.name = "valid, absent, no replacement: reconcile",
     .start = Unplugged,
     .action = A::Reconcile,
     .success = true,
     .reason = "reconcile_not_eligible"},
    {.name = "valid, absent, replacement: reconcile archives",
     .start = Replaced,
     .action = A::Reconcile,
     .success = true,
     .reason = "recovery_archived",
     .journal = JournalEffect::Archived,
     .presence = "active"},
    {.name = "valid, absent, replacement: forget archives",
     .start = Replaced,
     .action = A::Forget,
     .token = Token::Current,
     .success = true,
     .reason = "recovery_archived",
     .journal = JournalEffect::Archived},
    {.name = "corrupt: status",
     .start = CorruptJournal,
     .action = A::Status,
     .code = "DESKTOP_JOURNAL_CORRUPT",
     .message = "desktop journal version unsupported"},
    {.name = "corrupt: restore",
     .start = CorruptJournal,
     .action = A::Restore,
     .code = "DESKTOP_JOURNAL_CORRUPT",
     .message = "desktop journal version unsupported"},
    {.name = "corrupt: forget archives",
     .start = CorruptJournal,
     .action = A::Forget,
     .token = Token::Current,
     .success = true,
     .reason = "recovery_archived",
     .journal = JournalEffect::Archived},
    {.name = "no journal: forget absent",
     .start = Office,
     .action = A::Forget,
     .token = Token::None,
     .code = "DESKTOP_RECOVERY_CHANGED",
     .message = "recovery record changed; read status and confirm again",
     .journal = JournalEffect::None},
};

// One row per failure the engine reports (the state rows above cover the rest).
const Row kFailureRows[] = {
    {.name = "display-id of another Nimbo",
     .start = Detached,
     .action = A::Restore,
     .displayId = L"MONITOR\\KZV2B09\\x\\0001",
     .code = "DESKTOP_OWNERSHIP_CONFLICT",
     .message = "another exact target owns the desktop journal"},
    {.name = "journal interface fails its identity",
     .start = With(Detached, [](auto& f) { BreakIdentity(f, 2); }),
     .action = A::Restore,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "the journal interface does not belong to the exact Nimbo display ID"},
    {.name = "two active Nimbos",
     .start =
         [] {
             return FakeDesktop({Primary(), OwnNimbo(), NimboAt(4, 2, 5760)});
         },
     .action = A::Detach,
     .code = "DESKTOP_TARGET_AMBIGUOUS",
     .message = "multiple active Nimbo targets require an exact display-id",
     .journal = JournalEffect::None},
    {.name = "active Nimbo fails its identity",
     .start = With(Office, [](auto& f) { BreakIdentity(f, 2); }),
     .action = A::Detach,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "active Nimbo identity does not match its desktop path",
     .journal = JournalEffect::None},
    {.name = "darken without journal",
     .start = Office,
     .action = A::Darken,
     .displayId = NimboId(),
     .code = "DESKTOP_NOT_OWNED",
     .message = "darken requires a Nimbo owned by a valid journal",
     .journal = JournalEffect::None},
    {.name = "darken detached",
     .start = Detached,
     .action = A::Darken,
     .displayId = NimboId(),
     .code = "DESKTOP_TARGET_INACTIVE",
     .message = "darken requires the owned Nimbo to be active"},
    {.name = "darken beside another display",
     .start = Reenabled,
     .action = A::Darken,
     .displayId = NimboId(),
     .code = "DESKTOP_NOT_ONLY_DISPLAY",
     .message = "darken is only for a Nimbo that is the only active display"},
    {.name = "darken refused",
     .start = With(NimboAlone, [](auto& f) { f.darkenOk = false; }),
     .action = A::Darken,
     .displayId = NimboId(),
     .code = "DESKTOP_DARKEN_FAILED",
     .message = "the display-off request was not issued"},
    {.name = "darken issued",
     .start = NimboAlone,
     .action = A::Darken,
     .displayId = NimboId(),
     .success = true,
     .state = "on"},
    {.name = "identity breaks before retirement",
     .start =
         With(Reenabled,
              [](auto& f) { f.beforeCapture[1] = [](FakeDesktop& m) { BreakIdentity(m, 2); }; }),
     .action = A::Restore,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "active target changed before ownership retirement"},
    {.name = "retirement cannot delete",
     .start = With(Reenabled, [](auto& f) { f.deleteOk = false; }),
     .action = A::Reconcile,
     .code = "DESKTOP_JOURNAL_FAILED",
     .message = "could not release desktop ownership"},
    {.name = "identity breaks after retirement",
     .start =
         With(Reenabled,
              [](auto& f) { f.beforeCapture[2] = [](FakeDesktop& m) { BreakIdentity(m, 2); }; }),
     .action = A::Detach,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "active target changed before new detach",
     .journal = JournalEffect::Deleted},
    {.name = "replacement fails its identity",
     .start = With(Replaced, [](auto& f) { BreakIdentity(f, 3); }),
     .action = A::Reconcile,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "active replacement identity does not match its desktop path"},
    {.name = "reconcile without a revision",
     .start = With(Replaced, [](auto& f) { f.revisionOverride = "absent"; }),
     .action = A::Reconcile,
     .code = "DESKTOP_RECOVERY_CHANGED",
     .message = "valid ownership has no bound recovery revision; journal retained"},
    {.name = "replacement unplugged before reconcile archive",
     .start = With(Replaced,
                   [](auto& f) {
                       f.beforeCapture[1] = [](FakeDesktop& m) {
                           m.Find(kNimboModel, 3).available = false;
                       };
                   }),
     .action = A::Reconcile,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "display identity changed before reconnect archive"},
    {.name = "archive fails",
     .start = With(Replaced,
                   [](auto& f) { f.archiveOverride = desktop_win::DesktopArchiveResult::Failed; }),
     .action = A::Reconcile,
     .code = "DESKTOP_ARCHIVE_FAILED",
     .message = "recovery archive failed; original record retained"},
    {.name = "journal changes before reconcile archive",
     .start = With(Replaced,
                   [](auto& f) { f.archiveOverride = desktop_win::DesktopArchiveResult::Changed; }),
     .action = A::Reconcile,
     .code = "DESKTOP_RECOVERY_CHANGED",
     .message = "recovery record changed before reconnect archive; journal retained"},
    {.name = "forget with a stale token",
     .start = Replaced,
     .action = A::Forget,
     .token = Token::Stale,
     .code = "DESKTOP_RECOVERY_CHANGED",
     .message = "recovery record changed; read status and confirm again"},
    {.name = "forget while the old Nimbo is attached",
     .start = Detached,
     .action = A::Forget,
     .token = Token::Current,
     .code = "DESKTOP_RECOVERY_UNSAFE",
     .message = "archive requires the old target to be absent and one verified active Nimbo with "
                "no inactive Nimbo"},
    {.name = "replacement changes before forget archive",
     .start =
         With(Replaced,
              [](auto& f) { f.beforeCapture[1] = [](FakeDesktop& m) { BreakIdentity(m, 3); }; }),
     .action = A::Forget,
     .token = Token::Current,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "display identity changed before recovery archive"},
    {.name = "journal changes before forget archive",
     .start = With(Replaced,
                   [](auto& f) { f.archiveOverride = desktop_win::DesktopArchiveResult::Changed; }),
     .action = A::Forget,
     .token = Token::Current,
     .code = "DESKTOP_RECOVERY_CHANGED",
     .message = "recovery record changed before archive; confirm again"},
    {.name = "survivor mode changed",
     .start = With(Detached, ChangePrimaryMode),
     .action = A::Restore,
     .code = "DESKTOP_TOPOLOGY_CHANGED",
     .message = "remaining desktop paths changed; saved topology was not applied"},
    {.name = "restore not valid",
     .start = With(Detached, [](auto& f) { f.validateOk = false; }),
     .action = A::Restore,
     .code = "DESKTOP_VALIDATE_FAILED",
     .message = "saved exact target cannot be safely reactivated"},
    {.name = "desktop changes before restore",
     .start = With(Detached, [](auto& f) { f.beforeCapture[1] = ChangePrimaryMode; }),
     .action = A::Restore,
     .code = "DESKTOP_TOPOLOGY_CHANGED",
     .message = "desktop changed before restore"},
    {.name = "identity breaks before restore",
     .start =
         With(Detached,
              [](auto& f) { f.beforeCapture[1] = [](FakeDesktop& m) { BreakIdentity(m, 2); }; }),
     .action = A::Restore,
     .code = "DESKTOP_IDENTITY_CHANGED",
     .message = "the owned target identity changed before restore"},
    {.name = "restore apply fails",
     .start = With(Detached, [](auto& f) { f.applyOk = false; }),
     .action = A::Restore,
     .code = "DESKTOP_APPLY_FAILED",
     .message = "restore failed; journal retained"},
    {.name = "restore not confirmed",
     .start = With(Detached, [](auto& f) { f.afterApply = [](auto& m) { m[1].active = false; }; }),
     .action = A::Restore,
     .code = "DESKTOP_VERIFY_FAILED",
     .message = "restored desktop was not confirmed; journal retained"},
    {.name = "restored but not released",
     .start = With(Detached, [](auto& f) { f.deleteOk = false; }),
     .action = A::Restore,
     .code = "DESKTOP_JOURNAL_FAILED",
     .message = "desktop restored but ownership could not be released"},
    {.name = "only display",
     .start = [] { return FakeDesktop({NimboAt(2, 0, 0)}); },
     .action = A::Detach,
     .code = "DESKTOP_ONLY_DISPLAY",
     .message = "cannot remove the only active desktop display",
     .journal = JournalEffect::None},
    {.name = "middle of three",
     .start =
         [] {
             return FakeDesktop({Primary(), OwnNimbo(), OtherAt(5, 2, 5760)});
         },
     .action = A::Detach,
     .code = "DESKTOP_UNSUPPORTED_TOPOLOGY",
     .message = "cannot safely remove this target",
     .journal = JournalEffect::None},
    {.name = "removal not valid",
     .start = With(Office, [](auto& f) { f.validateOk = false; }),
     .action = A::Detach,
     .code = "DESKTOP_VALIDATE_FAILED",
     .message = "target removal could not be validated",
     .journal = JournalEffect::None},
    {.name = "desktop changes before detach",
     .start = With(Office, [](auto& f) { f.beforeCapture[1] = ChangePrimaryMode; }),
     .action = A::Detach,
     .code = "DESKTOP_TOPOLOGY_CHANGED",
     .message = "desktop changed before detach",
     .journal = JournalEffect::None},
    {.name = "journal cannot be written",
     .start = With(Office, [](auto& f) { f.savesAllowed = 0; }),
     .action = A::Detach,
     .code = "DESKTOP_JOURNAL_FAILED",
     .message = "could not persist recovery before detach",
     .journal = JournalEffect::None},
    {.name = "desktop changes while saving",
     .start = With(Office, [](auto& f) { f.beforeCapture[2] = ChangePrimaryMode; }),
     .action = A::Detach,
     .code = "DESKTOP_TOPOLOGY_CHANGED",
     .message = "desktop changed while recovery was persisted; journal retained",
     .journal = JournalEffect::Written},
    {.name = "detach apply fails",
     .start = With(Office, [](auto& f) { f.applyOk = false; }),
     .action = A::Detach,
     .code = "DESKTOP_APPLY_FAILED",
     .message = "detach failed; recovery journal retained",
     .journal = JournalEffect::Written},
    {.name = "observed baseline cannot be saved",
     .start = With(Office,
                   [](auto& f) {
                       ShiftPrimaryAfterApply(f);
                       f.savesAllowed = 1;
                   }),
     .action = A::Detach,
     .code = "DESKTOP_JOURNAL_FAILED",
     .message = "detach differed from plan and its observed recovery baseline could not be "
                "persisted; original "
                "journal retained",
     .journal = JournalEffect::Written},
    {.name = "detach differs harmlessly",
     .start = With(Office, ShiftPrimaryAfterApply),
     .action = A::Detach,
     .code = "DESKTOP_VERIFY_FAILED",
     .message = "desktop detach was not confirmed; recovery journal retained",
     .journal = JournalEffect::Written},
    {.name = "capture fails",
     .start = With(Detached,
                   [](auto& f) {
                       f.beforeCapture[1] = [](FakeDesktop&) {
                           throw std::runtime_error("desktop changed during bounded enumeration");
                       };
                   }),
     .action = A::Restore,
     .code = "DESKTOP_IO_FAILED",
     .message = "desktop changed during bounded enumeration"},
};

TEST(DesktopEngine, StateTable) {
    for (const Row& row : kStateRows)
        RunRow(row);
}

TEST(DesktopEngine, FailureCatalogue) {
    for (const Row& row : kFailureRows)
        RunRow(row);
}

TEST(DesktopEngine, EveryReportedFailureHasARow) {
    std::set<CodeMessage> exercised;
    for (const auto* rows : {std::begin(kStateRows), std::begin(kFailureRows)})
        (void)rows;
    for (const Row& row : kStateRows)
        exercised.insert({row.code, row.message});
    for (const Row& row : kFailureRows)
        exercised.insert({row.code, row.message});
    for (const CodeMessage& pair : EngineFailures()) {
        // Retirement always runs first when the owned path is active, so the
        // pending-recovery guard cannot be reached through the engine.
        if (pair.code == "DESKTOP_RECOVERY_PENDING")
            continue;
        EXPECT_TRUE(exercised.count(pair)) << pair.code << ": " << pair.message;
    }
}

TEST(DesktopEngine, StatusOfACorruptJournalStillOffersForget) {
    FakeDesktop fake = CorruptJournal();
    const DesktopResult r = fake.Run(Request(A::Status));
    EXPECT_EQ(r.token, fake.Revision());
    EXPECT_TRUE(r.canForget);
    FakeDesktop detached = Detached();
    const DesktopResult owned = detached.Run(Request(A::Status));
    EXPECT_TRUE(owned.owned && owned.detached && !owned.canForget);
    EXPECT_EQ(owned.token, detached.Revision());
    EXPECT_EQ(owned.displayId, NimboId());
}

TEST(DesktopEngine, DetachThenRestoreBringsTheDesktopBackExactly) {
    FakeDesktop fake = Office();
    const DesktopTopology original = fake.Capture();
    ASSERT_TRUE(fake.Run(Request(A::Detach)).success);
    EXPECT_FALSE(fake.Find(kNimboModel, 2).active);
    ASSERT_TRUE(fake.Run(Request(A::Restore, NimboId())).success);
    EXPECT_EQ(fake.Capture().snapshot, original.snapshot);
    EXPECT_FALSE(fake.journal.has_value());
}

TEST(DesktopEngine, ObservedBaselineIsWhatRestoreChecksAgainst) {
    FakeDesktop fake = Office();
    ShiftPrimaryAfterApply(fake);
    EXPECT_EQ(fake.Run(Request(A::Detach)).errorCode, "DESKTOP_VERIFY_FAILED");
    ASSERT_TRUE(fake.journal.has_value());
    EXPECT_TRUE(ParseJournal(*fake.journal).observedAfter.has_value());
    fake.afterApply = nullptr;
    const DesktopResult restored = fake.Run(Request(A::Restore));
    EXPECT_TRUE(restored.success) << restored.errorMessage;
    EXPECT_FALSE(fake.journal.has_value());
}

TEST(DesktopEngine, NoApplyOrWriteOnRefusals) {
    FakeDesktop fake = FakeDesktop({NimboAt(2, 0, 0)});
    (void)fake.Run(Request(A::Detach));
    for (const Op op : fake.calls)
        EXPECT_TRUE(op != Op::ApplyTopology && op != Op::SaveJournal);
    FakeDesktop reenabled = Reenabled();
    (void)reenabled.Run(Request(A::Restore));
    for (const Op op : reenabled.calls)
        EXPECT_NE(op, Op::ApplyTopology);
}

}  // namespace
}  // namespace nimbo::test
