// The journal store over the simulated machine's real files: size limit,
// revisions of corrupt files, atomic saves, archiving only the confirmed
// version, and the lock between commands (also between processes).

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
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

constexpr const wchar_t* kJournal = L"C:\\data\\desktop.json";
constexpr const char* kAbcSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

DesktopJournal ValidJournal() {
    const std::vector<test::Monitor> office = {test::OtherAt(1, 0, 0), test::NimboAt(2, 1, 1920)};
    const DesktopTopology before = BuildTopology(office);
    return {test::DisplayIdOf(office[1]), test::KeyOf(office[1]), before,
            PlanTargetRemoval(before, test::KeyOf(office[1])), std::nullopt};
}

class JournalStore : public ::testing::Test {
  protected:
    std::filesystem::path Real(const std::wstring& path) const { return *files.RealPathOf(path); }
    std::filesystem::path RealJournal() const { return Real(kJournal); }

    // Everything in the journal's folder, by name.
    std::vector<std::string> FolderListing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(RealJournal().parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    lenticor::testing::ScratchRoot root;
    lenticor::SimFiles files{root.Path()};
    lenticor::testing::ScriptedCrypto crypto;
};

// --- load ---

TEST_F(JournalStore, SizeLimitIsExactly2MiB) {
    const std::string text = SerializeJournal(ValidJournal());
    // JSON allows trailing white space, so the limit itself can hold a valid journal.
    WriteBytes(RealJournal(), text + std::string(kMaxJournalBytes - text.size(), ' '));
    std::string revision;
    EXPECT_TRUE(LoadJournal(files, crypto, kJournal, revision).has_value());
    EXPECT_EQ(revision.size(), 64u);

    WriteBytes(RealJournal(), text + std::string(kMaxJournalBytes + 1 - text.size(), ' '));
    try {
        (void)LoadJournal(files, crypto, kJournal, revision);
        FAIL() << "an oversized journal loaded";
    } catch (const DesktopJournalCorrupt&) {
        FAIL() << "an oversized journal is an I/O failure, not corruption";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "desktop journal size invalid");
    }
}

TEST_F(JournalStore, CorruptJournalStillHasItsRevision) {
    WriteBytes(RealJournal(), "abc");
    std::string revision = "stale";
    EXPECT_THROW((void)LoadJournal(files, crypto, kJournal, revision), DesktopJournalCorrupt);
    EXPECT_EQ(revision, kAbcSha256);

    // A well-formed document the parser refuses carries the parser's message.
    WriteBytes(RealJournal(), R"({"version":2})");
    try {
        (void)LoadJournal(files, crypto, kJournal, revision);
        FAIL();
    } catch (const DesktopJournalCorrupt& error) {
        EXPECT_STREQ(error.what(), "desktop journal version unsupported");
    }
}

TEST_F(JournalStore, LoadOutcomes) {
    std::string revision;
    EXPECT_FALSE(LoadJournal(files, crypto, kJournal, revision).has_value());
    EXPECT_EQ(revision, "absent");
    revision.clear();
    EXPECT_FALSE(LoadJournal(files, crypto, L"C:\\no\\such\\folder\\j.json", revision));
    EXPECT_EQ(revision, "absent");

    // A folder where the journal should be is unreadable, not absent.
    std::filesystem::create_directories(RealJournal());
    EXPECT_THROW((void)LoadJournal(files, crypto, kJournal, revision), std::runtime_error);
    std::filesystem::remove(RealJournal());

    // A hash failure is an I/O failure even for a corrupt file.
    WriteBytes(RealJournal(), "abc");
    crypto.hashFails = true;
    try {
        (void)LoadJournal(files, crypto, kJournal, revision);
        FAIL();
    } catch (const DesktopJournalCorrupt&) {
        FAIL() << "hash failure reported as corruption";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "desktop recovery revision hash failed");
    }
}

// --- save and delete ---

TEST_F(JournalStore, SaveRoundTripReplacesStaleTemporary) {
    const DesktopJournal journal = ValidJournal();
    WriteBytes(Real(std::wstring(kJournal) + L".tmp"), std::string(100000, 'x'));
    ASSERT_TRUE(SaveJournal(files, kJournal, journal));
    EXPECT_EQ(ReadBytes(RealJournal()), SerializeJournal(journal));
    EXPECT_EQ(FolderListing(), std::vector<std::string>{"desktop.json"});

    std::string revision;
    const auto loaded = LoadJournal(files, crypto, kJournal, revision);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(SerializeJournal(*loaded), SerializeJournal(journal));
    EXPECT_EQ(revision, RevisionOf(crypto, ReadBytes(RealJournal())));
}

TEST_F(JournalStore, FailedSaveKeepsPreviousJournal) {
    const std::string previous = SerializeJournal(ValidJournal());
    DesktopJournal next = ValidJournal();
    next.observedAfter = next.after;
    struct Case {
        const char* name;
        std::function<lenticor::CreateFileResult()> interfere;
        DesktopJournal journal;
    };
    const std::wstring temporary = std::wstring(kJournal) + L".tmp";
    DesktopJournal oversized = next;
    oversized.displayId = std::wstring(kMaxJournalBytes, L'M');
    const Case cases[] = {
        {"temporary file held by another command",
         [&] {
             return files.CreateFileW(temporary, fa::kGenericWrite, fa::kShareNone, fa::kOpenAlways,
                                      fa::kAttributeNormal);
         },
         next},
        {"journal held open without delete sharing",
         [&] {
             return files.CreateFileW(kJournal, fa::kGenericRead, fa::kShareRead, fa::kOpenExisting,
                                      fa::kAttributeNormal);
         },
         next},
        {"serialised journal over the limit", [] { return lenticor::CreateFileResult{}; },
         oversized},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(RealJournal(), previous);
        const auto holder = c.interfere();
        EXPECT_FALSE(SaveJournal(files, kJournal, c.journal));
        EXPECT_EQ(ReadBytes(RealJournal()), previous);
    }
}

TEST_F(JournalStore, DeleteIsTrueWhenTheJournalIsGone) {
    std::filesystem::create_directories(RealJournal().parent_path());
    EXPECT_TRUE(DeleteJournal(files, kJournal));
    WriteBytes(RealJournal(), "abc");
    EXPECT_TRUE(DeleteJournal(files, kJournal));
    EXPECT_FALSE(std::filesystem::exists(RealJournal()));
}

// --- archive ---

TEST_F(JournalStore, ArchiveOutcomes) {
    const std::string older = "abc";
    const std::string current = SerializeJournal(ValidJournal());
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string expected;  // revision handed in
        DesktopArchiveResult result;
        bool journalStays;
    };
    const std::string currentRevision = RevisionOf(crypto, current);
    const Case cases[] = {
        {"missing, absent expected", [] {}, "absent", DesktopArchiveResult::AlreadyAbsent, false},
        {"missing, a revision expected", [] {}, currentRevision, DesktopArchiveResult::Changed,
         false},
        {"older revision", [&] { WriteBytes(RealJournal(), current); }, RevisionOf(crypto, older),
         DesktopArchiveResult::Changed, true},
        {"present, absent expected", [&] { WriteBytes(RealJournal(), current); }, "absent",
         DesktopArchiveResult::Changed, true},
        {"folder at the journal path", [&] { std::filesystem::create_directories(RealJournal()); },
         currentRevision, DesktopArchiveResult::Failed, true},
        {"link at the journal path",
         [&] {
             WriteBytes(RealJournal().string() + "-target", current);
             std::filesystem::create_symlink("desktop.json-target", RealJournal());
         },
         currentRevision, DesktopArchiveResult::Failed, true},
        {"held by a writer that does not share writing",
         [&] { WriteBytes(RealJournal(), current); }, currentRevision, DesktopArchiveResult::Failed,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(RealJournal().parent_path());
        std::filesystem::create_directories(RealJournal().parent_path());
        c.arrange();
        lenticor::CreateFileResult holder;
        if (std::string(c.name).rfind("held", 0) == 0) {
            holder = files.CreateFileW(kJournal, fa::kGenericRead | fa::kGenericWrite,
                                       fa::kShareRead, fa::kOpenExisting, fa::kAttributeNormal);
            ASSERT_TRUE(holder.handle.IsOpen());
        }
        EXPECT_EQ(ArchiveJournal(files, crypto, kJournal, c.expected), c.result);
        EXPECT_EQ(
            std::filesystem::is_symlink(RealJournal()) || std::filesystem::exists(RealJournal()),
            c.journalStays);
        for (const auto& name : FolderListing())
            EXPECT_EQ(name.find(".recovery-"), std::string::npos) << name;
    }
    // The archive of a missing folder is as absent as a missing file.
    EXPECT_EQ(ArchiveJournal(files, crypto, L"C:\\gone\\j.json", "absent"),
              DesktopArchiveResult::AlreadyAbsent);
}

TEST_F(JournalStore, ArchiveRenamesTheConfirmedFileAside) {
    const std::string current = SerializeJournal(ValidJournal());
    WriteBytes(RealJournal(), current);
    // A reader such as a concurrent status shares everything and does not block.
    const auto reader = files.CreateFileW(kJournal, fa::kGenericRead,
                                          fa::kShareRead | fa::kShareWrite | fa::kShareDelete,
                                          fa::kOpenExisting, fa::kAttributeNormal);
    ASSERT_EQ(ArchiveJournal(files, crypto, kJournal, RevisionOf(crypto, current)),
              DesktopArchiveResult::Archived);
    const auto listing = FolderListing();
    ASSERT_EQ(listing.size(), 1u);
    // Version-4 UUID digits: "4" leads the third group, 8..b the fourth.
    EXPECT_TRUE(std::regex_match(
        listing[0],
        std::regex("desktop\\.json\\.recovery-[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}"
                   "\\.json")))
        << listing[0];
    EXPECT_EQ(ReadBytes(RealJournal().parent_path() / listing[0]), current);
}

TEST_F(JournalStore, ArchiveRetriesNameCollisions) {
    const std::string current = SerializeJournal(ValidJournal());
    const std::string revision = RevisionOf(crypto, current);
    // Draws of all zero bits and all one bits, with the UUID bits applied.
    const std::array<std::uint8_t, 16> zeros{};
    std::array<std::uint8_t, 16> ones{};
    ones.fill(0xFF);
    const std::string zerosName = "desktop.json.recovery-00000000000040008000000000000000.json";
    const std::string onesName = "desktop.json.recovery-ffffffffffff4fffbfffffffffffffff.json";
    const auto folder = RealJournal().parent_path();

    struct Case {
        const char* name;
        std::deque<std::array<std::uint8_t, 16>> draws;
        bool randomFails;
        DesktopArchiveResult result;
        int expectedDraws;
    };
    const Case cases[] = {
        {"two collisions, then a free name",
         {zeros, zeros, ones},
         false,
         DesktopArchiveResult::Archived,
         3},
        {"three collisions", {zeros, zeros, zeros, ones}, false, DesktopArchiveResult::Failed, 3},
        {"random source fails", {}, true, DesktopArchiveResult::Failed, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder);
        WriteBytes(RealJournal(), current);
        WriteBytes(folder / zerosName, "earlier archive");
        crypto.script = c.draws;
        crypto.randomFails = c.randomFails;
        crypto.draws = 0;
        EXPECT_EQ(ArchiveJournal(files, crypto, kJournal, revision), c.result);
        EXPECT_EQ(crypto.draws, c.expectedDraws);
        // An existing archive is never replaced.
        EXPECT_EQ(ReadBytes(folder / zerosName), "earlier archive");
        const bool archived = c.result == DesktopArchiveResult::Archived;
        EXPECT_EQ(std::filesystem::exists(RealJournal()), !archived);
        EXPECT_EQ(std::filesystem::exists(folder / onesName), archived);
        if (archived) {
            EXPECT_EQ(ReadBytes(folder / onesName), current);
        }
    }
}

// --- lock ---

void ExpectBusy(const std::function<void()>& acquire) {
    try {
        acquire();
        ADD_FAILURE() << "the lock was granted twice";
    } catch (const JournalError& error) {
        EXPECT_EQ(error.code, "DESKTOP_BUSY");
        EXPECT_STREQ(error.what(),
                     "another command owns this desktop journal; retry after it completes");
    }
}

TEST_F(JournalStore, LockCreatesFolderAndExcludesASecondCommand) {
    const std::wstring nested = L"C:\\users\\me\\state\\desktop.json";
    {
        const auto lock = AcquireJournalLock(files, nested);
        EXPECT_TRUE(lock.IsOpen());
        EXPECT_TRUE(std::filesystem::is_regular_file(Real(nested + L".lock")));
        ExpectBusy([&] { (void)AcquireJournalLock(files, nested); });
        // Another journal has its own lock.
        EXPECT_TRUE(AcquireJournalLock(files, kJournal).IsOpen());
    }
    // Released with its handle; the lock file stays.
    EXPECT_TRUE(AcquireJournalLock(files, nested).IsOpen());
    EXPECT_TRUE(std::filesystem::exists(Real(nested + L".lock")));
}

TEST_F(JournalStore, LockExcludesAnotherProcess) {
    auto childAcquires = [&] {
        lenticor::SimFiles own(root.Path());
        try {
            const auto lock = AcquireJournalLock(own, kJournal);
            return 0;
        } catch (const JournalError& error) {
            return error.code == "DESKTOP_BUSY" ? 1 : 2;
        }
    };
    {
        const auto lock = AcquireJournalLock(files, kJournal);
        EXPECT_EQ(lenticor::testing::ExitCodeInChildProcess(childAcquires), 1);
    }
    EXPECT_EQ(lenticor::testing::ExitCodeInChildProcess(childAcquires), 0);
    // And the other way round: a lock held by another process keeps us out.
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        lenticor::SimFiles own(root.Path());
        const auto lock = AcquireJournalLock(own, kJournal);
        char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(release[0], &byte, 1);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ExpectBusy([&] { (void)AcquireJournalLock(files, kJournal); });
    EXPECT_EQ(::write(release[1], &byte, 1), 1);
    int status = 0;
    ::waitpid(holder, &status, 0);
    EXPECT_TRUE(AcquireJournalLock(files, kJournal).IsOpen());
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
}

TEST_F(JournalStore, LockFolderFailureIsTheFilesystemError) {
    WriteBytes(Real(L"C:\\blocked"), "a file where a folder is needed");
    try {
        (void)AcquireJournalLock(files, L"C:\\blocked\\desktop.json");
        FAIL();
    } catch (const JournalError&) {
        FAIL() << "folder creation failures keep their own message";
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_NE(std::string(error.what()).find("create"), std::string::npos) << error.what();
    }
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
