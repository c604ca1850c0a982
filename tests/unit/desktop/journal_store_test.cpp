// The journal store over the simulated machine's real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
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
    void Reset() const {
        std::filesystem::remove_all(root.Path());
        std::filesystem::create_directories(Folder());
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
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
};

std::string LockOutcome(lenticor::Files& files, const std::wstring& path) {
    try {
        return AcquireJournalLock(files, path).IsOpen() ? "granted" : "closed";
    } catch (const JournalError& error) {
        return error.code + ": " + error.what();
    }
}

TEST_F(JournalStore, LoadOutcomes) {
    const std::string valid = SerializeJournal(ValidJournal());
    // Trailing white space keeps the document valid, so the limit itself can hold a journal.
    const auto padded = [&](std::size_t size) {
        return valid + std::string(size - valid.size(), ' ');
    };
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string outcome;
        std::string revision = "";  // "" for the digest of the file
    };
    const Case cases[] = {
        {.name = "at the size limit",
         .arrange = [&] { Write(padded(kMaxJournalBytes)); },
         .outcome = "loaded"},
        {.name = "one byte over",
         .arrange = [&] { Write(padded(kMaxJournalBytes + 1)); },
         .outcome = "failed: desktop journal size invalid",
         .revision = "unset"},
        {.name = "refused by the parser",
         .arrange = [&] { Write(R"({"version":2})"); },
         .outcome = "corrupt: desktop journal version unsupported"},
        {.name = "missing", .arrange = [] {}, .outcome = "none", .revision = "absent"},
        {.name = "folder at the path",
         .arrange = [&] { std::filesystem::create_directories(Real(kJournal)); },
         .outcome = "failed: desktop journal cannot be read",
         .revision = "unset"},
        {.name = "hash fails on a corrupt file",
         .arrange =
             [&] {
                 Write("abc");
                 crypto.hashFails = true;
             },
         .outcome = "failed: desktop recovery revision hash failed",
         .revision = "unset"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        crypto.hashFails = false;
        c.arrange();
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
    struct Case {
        const char* name;
        std::function<lenticor::CreateFileResult()> interfere;
        const DesktopJournal& journal;
        bool saved;
    };
    const Case cases[] = {
        {.name = "over a stale temporary",
         .interfere =
             [&] {
                 WriteBytes(Real(temporary), std::string(100000, 'x'));
                 return lenticor::CreateFileResult{};
             },
         .journal = next,
         .saved = true},
        {.name = "temporary held by another command",
         .interfere = [&] { return Hold(fa::kGenericWrite, fa::kShareNone, temporary); },
         .journal = next,
         .saved = false},
        {.name = "journal held without delete sharing",
         .interfere = [&] { return Hold(fa::kGenericRead, fa::kShareRead); },
         .journal = next,
         .saved = false},
        {.name = "serialised journal over the limit",
         .interfere = [] { return lenticor::CreateFileResult{}; },
         .journal = oversized,
         .saved = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Write(SerializeJournal(previous));
        {
            const auto holder = c.interfere();
            EXPECT_EQ(SaveJournal(files, kJournal, c.journal), c.saved);
        }
        EXPECT_EQ(ReadBytes(Real(kJournal)), SerializeJournal(c.saved ? c.journal : previous));
        if (c.saved) {
            EXPECT_EQ(Listing(), std::vector<std::string>{"desktop.json"});
        }
    }
    // Deleting is done once nothing is left, whether or not there was a journal.
    EXPECT_TRUE(DeleteJournal(files, kJournal));
    EXPECT_TRUE(DeleteJournal(files, kJournal));
    EXPECT_FALSE(std::filesystem::exists(Real(kJournal)));
}

TEST_F(JournalStore, ArchiveOnlyTheConfirmedRevision) {
    const std::string current = SerializeJournal(ValidJournal());
    const std::string revision = RevisionOf(crypto, current);
    enum class At { Nothing, Journal, Folder, Link };
    struct Case {
        const char* name;
        At at;
        std::string expected;  // the revision handed in
        Archive result;
        std::uint32_t holderAccess = 0, holderShare = 0;
    };
    const Case cases[] = {
        // A concurrent status shares everything and must not block.
        {.name = "confirmed, a reader open",
         .at = At::Journal,
         .expected = revision,
         .result = Archive::Archived,
         .holderAccess = fa::kGenericRead,
         .holderShare = kShareAll},
        {.name = "missing, absent expected",
         .at = At::Nothing,
         .expected = "absent",
         .result = Archive::AlreadyAbsent},
        {.name = "missing, a revision expected",
         .at = At::Nothing,
         .expected = revision,
         .result = Archive::Changed},
        {.name = "older revision",
         .at = At::Journal,
         .expected = RevisionOf(crypto, "abc"),
         .result = Archive::Changed},
        {.name = "present, absent expected",
         .at = At::Journal,
         .expected = "absent",
         .result = Archive::Changed},
        {.name = "folder", .at = At::Folder, .expected = revision, .result = Archive::Failed},
        {.name = "link", .at = At::Link, .expected = revision, .result = Archive::Failed},
        {.name = "writer not sharing writes",
         .at = At::Journal,
         .expected = revision,
         .result = Archive::Failed,
         .holderAccess = fa::kGenericWrite,
         .holderShare = fa::kShareRead},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (c.at == At::Journal)
            Write(current);
        if (c.at == At::Folder)
            std::filesystem::create_directories(Real(kJournal));
        if (c.at == At::Link) {
            WriteBytes(Folder() / "target", current);
            std::filesystem::create_symlink("target", Real(kJournal));
        }
        auto holder =
            c.holderAccess ? Hold(c.holderAccess, c.holderShare) : lenticor::CreateFileResult{};
        EXPECT_EQ(ArchiveJournal(files, crypto, kJournal, c.expected), c.result);
        holder.handle.Close();
        const auto listing = Listing();
        const auto archived = std::find_if(listing.begin(), listing.end(), [](const auto& name) {
            return name.find(".recovery-") != std::string::npos;
        });
        ASSERT_EQ(archived != listing.end(), c.result == Archive::Archived);
        EXPECT_EQ(
            std::filesystem::exists(Real(kJournal)) || std::filesystem::is_symlink(Real(kJournal)),
            c.at != At::Nothing && c.result != Archive::Archived);
        if (archived == listing.end())
            continue;
        // A version-4 UUID: "4" leads the third group, 8..b the fourth.
        EXPECT_TRUE(std::regex_match(
            *archived, std::regex("desktop\\.json\\.recovery-[0-9a-f]{12}4[0-9a-f]{3}[89ab]"
                                  "[0-9a-f]{15}\\.json")))
            << *archived;
        EXPECT_EQ(ReadBytes(Folder() / *archived), current);
    }
}

TEST_F(JournalStore, ArchiveRetriesNameCollisionsTwice) {
    const std::string current = SerializeJournal(ValidJournal());
    const std::array<std::uint8_t, 16> zeros{};
    std::array<std::uint8_t, 16> ones{};
    ones.fill(0xFF);
    const std::string taken = "desktop.json.recovery-00000000000040008000000000000000.json";
    const std::string free = "desktop.json.recovery-ffffffffffff4fffbfffffffffffffff.json";
    struct Case {
        const char* name;
        std::deque<std::array<std::uint8_t, 16>> draws = {};
        bool randomFails = false;
        Archive result;
        int expectedDraws;
    };
    const Case cases[] = {
        {.name = "two collisions, then a free name",
         .draws = {zeros, zeros, ones},
         .result = Archive::Archived,
         .expectedDraws = 3},
        {.name = "three collisions",
         .draws = {zeros, zeros, zeros, ones},
         .result = Archive::Failed,
         .expectedDraws = 3},
        {.name = "random source fails",
         .randomFails = true,
         .result = Archive::Failed,
         .expectedDraws = 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Write(current);
        WriteBytes(Folder() / taken, "earlier archive");
        crypto.script = c.draws;
        crypto.randomFails = c.randomFails;
        crypto.draws = 0;
        EXPECT_EQ(ArchiveJournal(files, crypto, kJournal, RevisionOf(crypto, current)), c.result);
        EXPECT_EQ(crypto.draws, c.expectedDraws);
        EXPECT_EQ(ReadBytes(Folder() / taken), "earlier archive");
        const bool archived = c.result == Archive::Archived;
        EXPECT_EQ(std::filesystem::exists(Real(kJournal)), !archived);
        EXPECT_EQ(std::filesystem::exists(Folder() / free), archived);
    }
}

TEST_F(JournalStore, LockExcludesASecondCommandInThisAndAnotherProcess) {
    const std::wstring nested = L"C:\\users\\me\\state\\desktop.json";
    const auto childOutcome = [&] {
        lenticor::SimFiles own(root.Path());
        const std::string outcome = LockOutcome(own, nested);
        return outcome == "granted" ? 0 : outcome == kBusy ? 1 : 2;
    };
    {
        // Missing folders are created on the way.
        const auto lock = AcquireJournalLock(files, nested);
        EXPECT_EQ(LockOutcome(files, nested), kBusy);
        EXPECT_EQ(lenticor::testing::ExitCodeInChildProcess(childOutcome), 1);
        EXPECT_EQ(LockOutcome(files, kJournal), "granted");
    }
    EXPECT_EQ(lenticor::testing::ExitCodeInChildProcess(childOutcome), 0);
    EXPECT_EQ(LockOutcome(files, nested), "granted");

    // A folder that cannot be created keeps its own error instead of passing as busy.
    WriteBytes(Real(L"C:\\blocked"), "a file where a folder is needed");
    EXPECT_THROW((void)AcquireJournalLock(files, L"C:\\blocked\\desktop.json"),
                 std::filesystem::filesystem_error);
}

TEST(JournalDirectory, KeepsTheDriveRoot) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\data\\desktop.json", L"C:\\data"},
        {L"C:\\desktop.json", L"C:\\"},
        {L"C:/a/b//desktop.json", L"C:/a/b"},
        {L"desktop.json", L""},
    };
    for (const auto& [path, directory] : cases)
        EXPECT_EQ(JournalDirectoryOf(path), directory);
}

}  // namespace
}  // namespace nimbo::desktop_win
