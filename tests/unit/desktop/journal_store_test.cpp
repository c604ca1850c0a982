// The journal store over the simulated machine's real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <regex>

#include "desktop/desktop_builders.h"
#include "desktop/detach_plan.h"
#include "desktop/journal_store.h"
#include "platform/sim/sim_files.h"
#include "platform/sim_test_support.h"

namespace nimbo::desktop_win {
namespace {

namespace fa = lenticor::fileapi;
using lenticor::testing::ReadBytes;
using lenticor::testing::WriteBytes;
using Archive = DesktopArchiveResult;

constexpr const wchar_t* kJournal = L"C:\\data\\desktop.json";
constexpr std::uint32_t kShareAll = fa::kShareRead | fa::kShareWrite | fa::kShareDelete;
constexpr const char* kBusy =
    "DESKTOP_BUSY: another command owns this desktop journal; retry after it completes";

DesktopJournal ValidJournal() {
    const std::vector<test::Monitor> office = {test::OtherAt(1, 0, 0), test::NimboAt(2, 1, 1920)};
    const DesktopTopology before = BuildTopology(office);
    return {test::DisplayIdOf(office[1]), test::KeyOf(office[1]), before,
            PlanTargetRemoval(before, test::KeyOf(office[1])), std::nullopt};
}

class JournalStore : public ::testing::Test {
  protected:
    std::filesystem::path Real(const std::wstring& path) const { return *files.RealPathOf(path); }
    std::filesystem::path Folder() const { return Real(kJournal).parent_path(); }
    void Write(const std::string& text) const { WriteBytes(Real(kJournal), text); }
    enum At { Nothing, File, Directory, Link };
    // A fresh folder holding `content` at the journal path as `at` says.
    void Place(At at, const std::string& content = "") const {
        std::filesystem::remove_all(root.Path());
        std::filesystem::create_directories(Folder());
        // clang-format off
        if (at == File) Write(content);
        if (at == Directory) std::filesystem::create_directories(Real(kJournal));
        if (at == Link) { WriteBytes(Folder() / "target", content); std::filesystem::create_symlink("target", Real(kJournal)); }
        // clang-format on
    }
    lenticor::CreateFileResult Hold(std::uint32_t access, std::uint32_t share,
                                    const std::wstring& path = kJournal) {
        return files.CreateFileW(path, access, share, fa::kOpenAlways, fa::kAttributeNormal);
    }
    // The exception type is part of the text so an I/O failure never passes as corruption.
    std::string Load(const std::wstring& path, std::string& revision) {
        try {
            return LoadJournal(files, crypto, path, revision) ? "loaded" : "none";
        } catch (const DesktopJournalCorrupt& error) {
            return std::string("corrupt: ") + error.what();
        } catch (const std::runtime_error& error) {
            return std::string("failed: ") + error.what();
        }
    }

    lenticor::testing::ScratchRoot root;
    lenticor::SimFiles files{root.Path()};
    lenticor::testing::ScriptedCrypto crypto;
    // Sleeping only moves the clock, so the retries of a save cost no time.
    struct : lenticor::SteadyClock {
        std::int64_t NowNanoseconds() override { return now; }
        void SleepUntil(std::int64_t instant) override {
            now = std::max(now, instant);
            if (now >= releaseAt)
                held.handle.Close();
        }
        std::int64_t now = 0, releaseAt = 0;
        lenticor::CreateFileResult held;  // another process's open, closed at `releaseAt`
    } clock;
};

std::string LockOutcome(lenticor::Files& files, const std::wstring& path) {
    try {
        return AcquireJournalLock(files, path).IsOpen() ? "granted" : "closed";
    } catch (const JournalError& error) {
        return error.code + ": " + error.what();
    } catch (const std::runtime_error& error) {
        return std::string("failed: ") + error.what();
    }
}

TEST_F(JournalStore, LoadOutcomes) {
    const std::string valid = SerializeJournal(ValidJournal());
    // Trailing white space keeps the document valid, so the limit itself can hold a journal.
    const std::string atLimit = valid + std::string(kMaxJournalBytes - valid.size(), ' ');
    // clang-format off
    struct Case { At at; std::string content; bool hashFails; std::string outcome, revision; };  // revision "": the digest of the file
    const Case cases[] = {
        {File, atLimit, false, "loaded", ""},
        {File, atLimit + " ", false, "failed: desktop journal size invalid", "unset"},
        {File, R"({"version":2})", false, "corrupt: desktop journal version unsupported", ""},
        {Nothing, "", false, "none", "absent"},
        {Directory, "", false, "failed: desktop journal cannot be read", "unset"},
        {File, "abc", true, "failed: desktop recovery revision hash failed", "unset"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        Place(c.at, c.content);
        crypto.hashFails = c.hashFails;
        std::string revision = "unset";
        EXPECT_EQ(Load(kJournal, revision), c.outcome);
        crypto.hashFails = false;
        EXPECT_EQ(revision,
                  c.revision.empty() ? RevisionOf(crypto, ReadBytes(Real(kJournal))) : c.revision);
    }
}

TEST_F(JournalStore, SaveIsAllOrNothing) {
    const DesktopJournal previous = ValidJournal();
    DesktopJournal next = previous;
    next.observedAfter = next.after;
    DesktopJournal oversized = next;
    oversized.displayId = std::wstring(kMaxJournalBytes, L'M');
    const std::wstring temporary = std::wstring(kJournal) + L".tmp";
    // clang-format off
    struct Case {
        const DesktopJournal& journal; bool saved; std::int64_t waitedMs;
        std::wstring held = L"";  // held open during the save with `access` and `share`
        std::uint32_t access = 0, share = 0;
    };
    const Case cases[] = {
        {next, true, 0},
        {next, false, 0, temporary, fa::kGenericWrite, fa::kShareNone},
        // A status poll reads without the lock; the save must not fail under it.
        {next, true, 0, kJournal, fa::kGenericRead, kShareAll},
        // Nobody may replace a file held without delete sharing; give up after 2 s.
        {next, false, 2000, kJournal, fa::kGenericRead, fa::kShareRead},
        {oversized, false, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Place(File, SerializeJournal(previous));
        // A stale temporary file from an earlier crash is overwritten, not appended to.
        WriteBytes(Real(temporary), std::string(100000, 'x'));
        clock.now = 0;
        {
            const auto holder =
                c.held.empty() ? lenticor::CreateFileResult{} : Hold(c.access, c.share, c.held);
            EXPECT_EQ(SaveJournal(files, clock, kJournal, c.journal), c.saved);
            if (c.share == kShareAll) {
                // The reader finishes with the version it opened.
                std::string seen(SerializeJournal(previous).size(), '\0');
                const auto read =
                    files.ReadFile(holder.handle, seen.data(), std::uint32_t(seen.size()));
                EXPECT_EQ(read.error, 0u);
                EXPECT_EQ(seen, SerializeJournal(previous));
            }
        }
        EXPECT_EQ(ReadBytes(Real(kJournal)), SerializeJournal(c.saved ? c.journal : previous));
        EXPECT_EQ(std::filesystem::exists(Real(temporary)), !c.saved);
        EXPECT_EQ(clock.now / 1'000'000, c.waitedMs);
    }
    // Deleting is done once nothing is left, whether or not there was a journal.
    EXPECT_TRUE(DeleteJournal(files, clock, kJournal));
    EXPECT_TRUE(DeleteJournal(files, clock, kJournal));
    EXPECT_FALSE(std::filesystem::exists(Real(kJournal)));
}

TEST_F(JournalStore, ArchiveOnlyTheConfirmedRevision) {
    const std::string current = SerializeJournal(ValidJournal());
    const std::string revision = RevisionOf(crypto, current);
    const std::string older = RevisionOf(crypto, "abc");
    // clang-format off
    struct Case { At at; std::string expected; Archive result; std::uint32_t holderAccess = 0, holderShare = 0; };  // expected: the revision handed in
    const Case cases[] = {
        // A concurrent status shares everything and must not block.
        {File, revision, Archive::Archived, fa::kGenericRead, kShareAll},
        {Nothing, "absent", Archive::AlreadyAbsent},
        {Nothing, revision, Archive::Changed},
        {File, older, Archive::Changed},
        {File, "absent", Archive::Changed},
        {Directory, revision, Archive::Failed},
        {Link, revision, Archive::Failed},
        {File, revision, Archive::Failed, fa::kGenericWrite, fa::kShareRead},
    };
    // clang-format on
    const std::regex archiveName(
        // A version-4 UUID: "4" leads the third group, 8..b the fourth.
        "desktop\\.json\\.recovery-[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}\\.json");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected + " at " + std::to_string(c.at));
        Place(c.at, current);
        auto holder =
            c.holderAccess ? Hold(c.holderAccess, c.holderShare) : lenticor::CreateFileResult{};
        EXPECT_EQ(ArchiveJournal(files, crypto, clock, kJournal, c.expected), c.result);
        holder.handle.Close();
        EXPECT_EQ(
            std::filesystem::exists(Real(kJournal)) || std::filesystem::is_symlink(Real(kJournal)),
            c.at != Nothing && c.result != Archive::Archived);
        std::vector<std::string> archived;
        for (const auto& entry : std::filesystem::directory_iterator(Folder()))
            if (const auto name = entry.path().filename().string();
                name.find(".recovery-") != std::string::npos)
                archived.push_back(name);
        ASSERT_EQ(archived.size(), c.result == Archive::Archived ? 1u : 0u);
        for (const auto& name : archived) {
            EXPECT_TRUE(std::regex_match(name, archiveName)) << name;
            EXPECT_EQ(ReadBytes(Folder() / name), current);
        }
    }
}

TEST_F(JournalStore, ArchiveRetriesNameCollisionsTwice) {
    const std::string current = SerializeJournal(ValidJournal());
    std::array<std::uint8_t, 16> zeros{}, ones{};
    ones.fill(0xFF);
    const std::string taken = "desktop.json.recovery-00000000000040008000000000000000.json";
    const std::string free = "desktop.json.recovery-ffffffffffff4fffbfffffffffffffff.json";
    // clang-format off
    struct Case { std::deque<std::array<std::uint8_t, 16>> draws; bool randomFails; Archive result; int expectedDraws; };
    const Case cases[] = {
        {{zeros, zeros, ones}, false, Archive::Archived, 3},
        {{zeros, zeros, zeros, ones}, false, Archive::Failed, 3},
        {{}, true, Archive::Failed, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expectedDraws);
        Place(File, current);
        WriteBytes(Folder() / taken, "earlier archive");
        crypto.script = c.draws;
        crypto.randomFails = c.randomFails;
        crypto.draws = 0;
        EXPECT_EQ(ArchiveJournal(files, crypto, clock, kJournal, RevisionOf(crypto, current)),
                  c.result);
        EXPECT_EQ(crypto.draws, c.expectedDraws);
        EXPECT_EQ(ReadBytes(Folder() / taken), "earlier archive");
        const bool archived = c.result == Archive::Archived;
        EXPECT_EQ(std::filesystem::exists(Real(kJournal)), !archived);
        EXPECT_EQ(std::filesystem::exists(Folder() / free), archived);
    }
}

// Two processes racing for the lock are an end-to-end case.
TEST_F(JournalStore, LockExcludesASecondCommand) {
    const std::wstring nested = L"C:\\users\\me\\state\\desktop.json";
    {
        // Missing folders are created on the way.
        const auto lock = AcquireJournalLock(files, nested);
        EXPECT_EQ(LockOutcome(files, nested), kBusy);
        EXPECT_EQ(LockOutcome(files, kJournal), "granted");
    }
    EXPECT_EQ(LockOutcome(files, nested), "granted");

    // A folder that cannot be created keeps its own error instead of passing as busy.
    WriteBytes(Real(L"C:\\blocked"), "a file where a folder is needed");
    EXPECT_EQ(LockOutcome(files, L"C:\\blocked\\desktop.json"),
              "failed: desktop journal folder cannot be created (error 183)");
}

TEST(JournalDirectory, KeepsTheDriveRoot) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\data\\desktop.json", L"C:\\data"},
        {L"C:\\desktop.json", L"C:\\"},
        {L"C:/a/b//desktop.json", L"C:/a/b"},
        {L"desktop.json", L""},
        {L"\\\\?\\C:\\desktop.json", L"\\\\?\\C:\\"},
        {L"\\\\?\\C:\\a\\desktop.json", L"\\\\?\\C:\\a"},
    };
    for (const auto& [path, directory] : cases)
        EXPECT_EQ(JournalDirectoryOf(path), directory);
}

TEST_F(JournalStore, WaitsOutAScannerButNoOtherError) {
    const std::string journal = SerializeJournal(ValidJournal());
    // clang-format off
    struct Case { std::string operation; bool held; std::int64_t releasedMs; bool done; std::int64_t waitedMs; };
    const Case cases[] = {
        {"delete", true, 1500, true, 1500},
        {"delete", true, 2500, false, 2000},
        {"archive", true, 1500, true, 1500},
        {"save", true, 1500, true, 1500},
        // A missing folder is nobody's open: answered at once.
        {"delete elsewhere", false, 0, false, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation + " " + std::to_string(c.releasedMs));
        Place(File, journal);
        clock.now = 0;
        clock.releaseAt = c.releasedMs * 1'000'000;
        // A scanner reading what we wrote, sharing neither write nor delete.
        if (c.held)
            clock.held = Hold(fa::kGenericRead, fa::kShareRead);
        bool done = false;
        if (c.operation == "delete")
            done = DeleteJournal(files, clock, kJournal);
        if (c.operation == "delete elsewhere")
            done = DeleteJournal(files, clock, L"C:\\missing\\desktop.json");
        if (c.operation == "archive")
            done = ArchiveJournal(files, crypto, clock, kJournal, RevisionOf(crypto, journal)) ==
                   Archive::Archived;
        if (c.operation == "save")
            done = SaveJournal(files, clock, kJournal, ValidJournal());
        clock.held.handle.Close();
        EXPECT_EQ(done, c.done);
        EXPECT_EQ(clock.now / 1'000'000, c.waitedMs);
    }
}

}  // namespace
}  // namespace nimbo::desktop_win
