// The simulated file system must answer like Windows where the journal store
// looks: full paths, share modes (also between processes), error numbers,
// attributes and renames that never replace. Plus the digests it relies on.

#include <gtest/gtest.h>

#include "app/text.h"
#include "platform/sim/sim_files.h"
#include "platform/sim_test_support.h"

namespace lenticor {
namespace {

namespace fa = fileapi;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr std::uint32_t kRead = fa::kGenericRead;
constexpr std::uint32_t kWrite = fa::kGenericWrite;
constexpr std::uint32_t kShareAll = fa::kShareRead | fa::kShareWrite | fa::kShareDelete;

TEST(WindowsFullPath, NormalisesLikeGetFullPathName) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\data\\desktop.json", L"C:\\data\\desktop.json"},
        {L"C:/data/./x/../desktop.json", L"C:\\data\\desktop.json"},
        {L"c:\\a\\\\\\b", L"c:\\a\\b"},
        {L"C:\\..\\..\\a", L"C:\\a"},
        {L"C:\\a\\b. .", L"C:\\a\\b"},
        {L"C:\\a\\b. \\", L"C:\\a\\b. \\"},
        {L"relative\\x", L"D:\\work\\relative\\x"},
        {L"..\\x", L"D:\\x"},
        {L"\\x", L"D:\\x"},
        {L"D:x", L"D:\\work\\x"},
        {L"E:x", L"E:\\x"},
        {L"\\\\server\\share\\..\\x", L"\\\\server\\share\\x"},
    };
    for (const auto& [input, expected] : cases) {
        const auto full = WindowsFullPath(input, L"D:\\work");
        ASSERT_TRUE(full.has_value()) << WideToUtf8(input);
        EXPECT_EQ(*full, expected);
    }
    EXPECT_FALSE(WindowsFullPath(L"", L"C:\\").has_value());
}

class SimFilesTest : public ::testing::Test {
  protected:
    std::filesystem::path Real(const std::wstring& path) const { return *files.RealPathOf(path); }
    CreateFileResult Open(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition = fa::kOpenExisting,
                          std::uint32_t flags = fa::kAttributeNormal) {
        return files.CreateFileW(path, access, share, disposition, flags);
    }

    testing::ScratchRoot root;
    SimFiles files{root.Path()};
};

TEST_F(SimFilesTest, GetFullPathNameBufferContract) {
    std::wstring full;
    const std::wstring path = L"C:\\data\\desktop.json";  // 20 characters
    EXPECT_EQ(files.GetFullPathNameW(L"C:/data/desktop.json", 21, full), 20u);
    EXPECT_EQ(full, path);
    EXPECT_EQ(files.GetFullPathNameW(L"C:/data/desktop.json", 20, full), 21u);
    EXPECT_TRUE(full.empty());
    EXPECT_EQ(files.GetFullPathNameW(L"", 100, full), 0u);
}

TEST_F(SimFilesTest, DriveLettersMapUnderTheRoot) {
    EXPECT_EQ(files.RealPathOf(L"C:\\data\\desktop.json"),
              root.Path() / "c" / "data" / "desktop.json");
    EXPECT_EQ(files.RealPathOf(L"c:/Data/x"), root.Path() / "c" / "Data" / "x");
    EXPECT_FALSE(files.RealPathOf(L"\\\\server\\share\\x").has_value());
    EXPECT_FALSE(files.RealPathOf(L"C:\\a:stream").has_value());
    EXPECT_EQ(Open(L"\\\\server\\share\\x", kRead, kShareAll).error, fa::kErrorPathNotFound);
}

TEST_F(SimFilesTest, ShareModesFollowWindowsRules) {
    struct Case {
        const char* name;
        std::uint32_t firstAccess, firstShare, secondAccess, secondShare;
        std::uint32_t error;
    };
    const std::uint32_t kArchive = kRead | kWrite | fa::kDelete;
    const Case cases[] = {
        {"lock vs lock", kRead | kWrite, fa::kShareNone, kRead | kWrite, fa::kShareNone,
         fa::kErrorSharingViolation},
        {"reader vs reader", kRead, kShareAll, kRead, kShareAll, fa::kErrorSuccess},
        {"reader vs archive", kRead, kShareAll, kArchive, fa::kShareRead, fa::kErrorSuccess},
        {"archive vs reader", kArchive, fa::kShareRead, kRead, kShareAll, fa::kErrorSuccess},
        {"read-only sharer vs archive", kRead, fa::kShareRead, kArchive, fa::kShareRead,
         fa::kErrorSharingViolation},
        {"archive vs writer", kArchive, fa::kShareRead, kWrite, kShareAll,
         fa::kErrorSharingViolation},
        {"reader vs one refusing readers", kRead, kShareAll, kWrite, fa::kShareWrite,
         fa::kErrorSharingViolation},
        {"writer vs one refusing writers", kWrite, kShareAll, kRead, fa::kShareRead,
         fa::kErrorSharingViolation},
        {"no data access never conflicts", kRead | kWrite, fa::kShareNone, 0, fa::kShareNone,
         fa::kErrorSuccess},
    };
    const std::wstring path = L"C:\\share.bin";
    WriteBytes(Real(path), "data");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto first = Open(path, c.firstAccess, c.firstShare);
        ASSERT_TRUE(first.handle.IsOpen());
        auto second = Open(path, c.secondAccess, c.secondShare);
        EXPECT_EQ(second.error, c.error);
        EXPECT_EQ(second.handle.IsOpen(), c.error == fa::kErrorSuccess);
        second.handle.Close();
        // The same answer from another process.
        const int childError = testing::ExitCodeInChildProcess([&] {
            SimFiles own(root.Path());
            auto opened = own.CreateFileW(path, c.secondAccess, c.secondShare, fa::kOpenExisting,
                                          fa::kAttributeNormal);
            return static_cast<int>(opened.error);
        });
        EXPECT_EQ(childError, static_cast<int>(c.error));
    }
}

TEST_F(SimFilesTest, RefusedCreateLeavesTheFileAlone) {
    const std::wstring path = L"C:\\held.tmp";
    WriteBytes(Real(path), "contents");
    const auto holder = Open(path, kWrite, fa::kShareNone);
    EXPECT_EQ(Open(path, kWrite, fa::kShareNone, fa::kCreateAlways).error,
              fa::kErrorSharingViolation);
    EXPECT_EQ(ReadBytes(Real(path)), "contents");
    EXPECT_EQ(files.DeleteFileW(path), fa::kErrorSharingViolation);
}

TEST_F(SimFilesTest, ErrorNumbersAndAttributes) {
    std::filesystem::create_directories(Real(L"C:\\folder"));
    WriteBytes(Real(L"C:\\file"), "x");
    std::filesystem::create_symlink("file", Real(L"C:\\link"));

    EXPECT_EQ(Open(L"C:\\missing", kRead, kShareAll).error, fa::kErrorFileNotFound);
    EXPECT_EQ(Open(L"C:\\missing\\file", kRead, kShareAll).error, fa::kErrorPathNotFound);
    EXPECT_EQ(Open(L"C:\\file\\below", kRead, kShareAll).error, fa::kErrorPathNotFound);
    EXPECT_EQ(Open(L"C:\\file", kRead, kShareAll, fa::kCreateNew).error, fa::kErrorFileExists);
    EXPECT_EQ(Open(L"C:\\folder", kRead, kShareAll).error, fa::kErrorAccessDenied);
    EXPECT_EQ(files.DeleteFileW(L"C:\\missing"), fa::kErrorFileNotFound);
    EXPECT_EQ(files.DeleteFileW(L"C:\\missing\\file"), fa::kErrorPathNotFound);

    struct Case {
        const wchar_t* path;
        std::uint32_t flags;
        std::uint32_t attributes;
    };
    const Case cases[] = {
        {L"C:\\file", fa::kAttributeNormal, fa::kAttributeArchive},
        {L"C:\\link", fa::kAttributeNormal, fa::kAttributeArchive},  // followed
        {L"C:\\link", fa::kFlagOpenReparsePoint, fa::kAttributeReparsePoint},
        {L"C:\\folder", fa::kFlagBackupSemantics, fa::kAttributeDirectory},
    };
    for (const auto& c : cases) {
        const auto opened = Open(c.path, kRead, kShareAll, fa::kOpenExisting, c.flags);
        ASSERT_TRUE(opened.handle.IsOpen());
        const auto information = files.GetFileInformationByHandle(opened.handle);
        EXPECT_EQ(information.error, fa::kErrorSuccess);
        EXPECT_EQ(information.attributes, c.attributes);
    }
}

TEST_F(SimFilesTest, RenamesNeverReplaceUnlessAsked) {
    WriteBytes(Real(L"C:\\a"), "a");
    WriteBytes(Real(L"C:\\b"), "b");
    {
        auto a = Open(L"C:\\a", kRead | fa::kDelete, fa::kShareRead);
        EXPECT_EQ(files.SetFileRenameInfoNoReplace(a.handle, L"C:\\b"), fa::kErrorAlreadyExists);
        EXPECT_EQ(files.SetFileRenameInfoNoReplace(a.handle, L"C:\\c"), fa::kErrorSuccess);
        // Renaming needs delete access on the handle.
        auto b = Open(L"C:\\b", kRead, kShareAll);
        EXPECT_EQ(files.SetFileRenameInfoNoReplace(b.handle, L"C:\\d"), fa::kErrorAccessDenied);
    }
    EXPECT_EQ(ReadBytes(Real(L"C:\\c")), "a");
    EXPECT_EQ(ReadBytes(Real(L"C:\\b")), "b");

    EXPECT_EQ(files.MoveFileExW(L"C:\\c", L"C:\\b", 0), fa::kErrorAlreadyExists);
    {
        const auto holder = Open(L"C:\\b", kRead, fa::kShareRead);
        EXPECT_EQ(files.MoveFileExW(L"C:\\c", L"C:\\b", fa::kMoveReplaceExisting),
                  fa::kErrorAccessDenied);
    }
    EXPECT_EQ(
        files.MoveFileExW(L"C:\\c", L"C:\\b", fa::kMoveReplaceExisting | fa::kMoveWriteThrough),
        fa::kErrorSuccess);
    EXPECT_EQ(ReadBytes(Real(L"C:\\b")), "a");
    EXPECT_EQ(files.MoveFileExW(L"C:\\c", L"C:\\e", 0), fa::kErrorFileNotFound);
}

TEST_F(SimFilesTest, ReadWriteRespectTheHandlesAccess) {
    std::filesystem::create_directories(Real(L"C:\\"));
    auto opened = Open(L"C:\\rw", kWrite, fa::kShareNone, fa::kCreateAlways);
    ASSERT_TRUE(opened.handle.IsOpen());
    const std::string text = "hello";
    EXPECT_EQ(files.WriteFile(opened.handle, text.data(), 5).bytes, 5u);
    char buffer[8] = {};
    EXPECT_EQ(files.ReadFile(opened.handle, buffer, 5).error, fa::kErrorAccessDenied);
    EXPECT_EQ(files.GetFileSizeEx(opened.handle).size, 5);
    EXPECT_EQ(files.FlushFileBuffers(opened.handle), fa::kErrorSuccess);
    opened.handle.Close();

    auto reader = Open(L"C:\\rw", kRead, kShareAll);
    const auto read = files.ReadFile(reader.handle, buffer, sizeof(buffer));
    EXPECT_EQ(read.bytes, 5u);  // short only at the end of the file
    EXPECT_EQ(std::string(buffer, 5), text);
    EXPECT_EQ(files.FlushFileBuffers(reader.handle), fa::kErrorAccessDenied);
}

TEST(OpenSslCrypto, KnownDigestsAndRandomBytes) {
    OpenSslCrypto crypto;
    const std::string abc = "abc";
    const auto digest =
        crypto.Sha256(std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()));
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(ToLowerHex(digest->data(), digest->size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const auto empty = crypto.Sha256({});
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(ToLowerHex(empty->data(), empty->size()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    std::array<std::uint8_t, 16> first{};
    std::array<std::uint8_t, 16> second{};
    ASSERT_TRUE(crypto.GenRandom(first));
    ASSERT_TRUE(crypto.GenRandom(second));
    EXPECT_NE(first, second);
}

}  // namespace
}  // namespace lenticor
