// The simulated file system must answer like Windows where the journal store
// looks, or the journal tests over it prove nothing about Windows.

#include <gtest/gtest.h>

#include <tuple>

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
    // clang-format off
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:/data/./x/../desktop.json", L"C:\\data\\desktop.json"},
        {L"c:\\a\\\\\\b", L"c:\\a\\b"},
        {L"C:\\..\\..\\a", L"C:\\a"},
        {L"C:\\a\\b. .", L"C:\\a\\b"},
        {L"C:\\a\\b. \\", L"C:\\a\\b. \\"},
        {L"relative\\x", L"D:\\work\\relative\\x"},
        {L"\\x", L"D:\\x"},
        {L"D:x", L"D:\\work\\x"},
        {L"E:x", L"E:\\x"},
        {L"\\\\server\\share\\..\\x", L"\\\\server\\share\\x"},
    };
    // clang-format on
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

TEST_F(SimFilesTest, ShareModesFollowWindowsRules) {
    struct Case {
        std::uint32_t firstAccess, firstShare, secondAccess, secondShare;
        std::uint32_t error;
    };
    const std::uint32_t kArchive = kRead | kWrite | fa::kDelete;
    constexpr std::uint32_t kViolation = fa::kErrorSharingViolation;
    // clang-format off
    const Case cases[] = {
        {.firstAccess = kRead | kWrite, .firstShare = fa::kShareNone, .secondAccess = kRead | kWrite, .secondShare = fa::kShareNone, .error = kViolation},
        {.firstAccess = kRead, .firstShare = kShareAll, .secondAccess = kArchive, .secondShare = fa::kShareRead, .error = 0},
        {.firstAccess = kRead, .firstShare = fa::kShareRead, .secondAccess = kArchive, .secondShare = fa::kShareRead, .error = kViolation},
        {.firstAccess = kArchive, .firstShare = fa::kShareRead, .secondAccess = kWrite, .secondShare = kShareAll, .error = kViolation},
        {.firstAccess = kWrite, .firstShare = kShareAll, .secondAccess = kRead, .secondShare = fa::kShareRead, .error = kViolation},
        // No data access never conflicts.
        {.firstAccess = kRead | kWrite, .firstShare = fa::kShareNone, .secondAccess = 0, .secondShare = fa::kShareNone, .error = 0},
    };
    // clang-format on
    const std::wstring path = L"C:\\share.bin";
    WriteBytes(Real(path), "data");
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.firstAccess << "/" << c.firstShare << " then "
                                          << c.secondAccess << "/" << c.secondShare);
        const auto first = Open(path, c.firstAccess, c.firstShare);
        ASSERT_TRUE(first.handle.IsOpen());
        auto second = Open(path, c.secondAccess, c.secondShare);
        EXPECT_EQ(second.error, c.error);
        EXPECT_EQ(second.handle.IsOpen(), c.error == fa::kErrorSuccess);
        second.handle.Close();
        // The same answer from another process.
        EXPECT_EQ(testing::ExitCodeInChildProcess([&] {
                      SimFiles own(root.Path());
                      return int(own.CreateFileW(path, c.secondAccess, c.secondShare,
                                                 fa::kOpenExisting, fa::kAttributeNormal)
                                     .error);
                  }),
                  static_cast<int>(c.error));
    }
}

TEST_F(SimFilesTest, ErrorNumbersAndAttributes) {
    std::filesystem::create_directories(Real(L"C:\\folder"));
    WriteBytes(Real(L"C:\\file"), "x");
    std::filesystem::create_symlink("file", Real(L"C:\\link"));

    const std::pair<CreateFileResult, std::uint32_t> opens[] = {
        {Open(L"C:\\missing", kRead, kShareAll), fa::kErrorFileNotFound},
        {Open(L"C:\\missing\\file", kRead, kShareAll), fa::kErrorPathNotFound},
        {Open(L"C:\\file\\below", kRead, kShareAll), fa::kErrorPathNotFound},
        {Open(L"C:\\file", kRead, kShareAll, fa::kCreateNew), fa::kErrorFileExists},
        {Open(L"C:\\folder", kRead, kShareAll), fa::kErrorAccessDenied},
        {Open(L"\\\\server\\share\\x", kRead, kShareAll), fa::kErrorPathNotFound},
    };
    for (const auto& [opened, error] : opens)
        EXPECT_EQ(opened.error, error);
    EXPECT_EQ(files.DeleteFileW(L"C:\\missing\\file"), fa::kErrorPathNotFound);

    using Case = std::tuple<const wchar_t*, std::uint32_t, std::uint32_t>;  // flags, attributes
    const Case cases[] = {
        {L"C:\\file", fa::kAttributeNormal, fa::kAttributeArchive},
        {L"C:\\link", fa::kAttributeNormal, fa::kAttributeArchive},  // followed
        {L"C:\\link", fa::kFlagOpenReparsePoint, fa::kAttributeReparsePoint},
        {L"C:\\folder", fa::kFlagBackupSemantics, fa::kAttributeDirectory},
    };
    for (const auto& [path, flags, attributes] : cases) {
        const auto opened = Open(path, kRead, kShareAll, fa::kOpenExisting, flags);
        ASSERT_TRUE(opened.handle.IsOpen());
        const auto information = files.GetFileInformationByHandle(opened.handle);
        EXPECT_EQ(information.error, fa::kErrorSuccess);
        EXPECT_EQ(information.attributes, attributes);
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

}  // namespace
}  // namespace lenticor
