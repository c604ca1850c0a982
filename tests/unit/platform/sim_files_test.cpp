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
        {L"C:\\a\\b. .", L"C:\\a\\b"},
        {L"E:x", L"E:\\x"},
    };
    // clang-format on
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(WindowsFullPath(input, L"D:\\work").value_or(L"?"), expected)
            << WideToUtf8(input);
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

TEST_F(SimFilesTest, ShareModeConflictsHoldAcrossProcessesAndLeaveTheFileIntact) {
    struct Case {
        std::uint32_t firstAccess, firstShare, secondAccess, secondShare, error;
    };
    const std::uint32_t kArchive = kRead | kWrite | fa::kDelete;
    constexpr std::uint32_t kViolation = fa::kErrorSharingViolation;
    // clang-format off
    const Case cases[] = {
        {kRead | kWrite, fa::kShareNone, kRead | kWrite, fa::kShareNone, kViolation},
        {kRead, kShareAll, kArchive, fa::kShareRead, 0},
        {kRead, fa::kShareRead, kArchive, fa::kShareRead, kViolation},
        {kWrite, kShareAll, kRead, fa::kShareRead, kViolation},
    };
    // clang-format on
    const std::wstring path = L"C:\\share.bin";
    WriteBytes(Real(path), "data");
    for (const auto& c : cases) {
        const auto first = Open(path, c.firstAccess, c.firstShare);
        ASSERT_TRUE(first.handle.IsOpen());
        EXPECT_EQ(testing::ExitCodeInChildProcess([&] {
                      SimFiles own(root.Path());
                      return int(own.CreateFileW(path, c.secondAccess, c.secondShare,
                                                 fa::kCreateAlways, fa::kAttributeNormal)
                                     .error);
                  }),
                  static_cast<int>(c.error))
            << "case " << &c - cases;
        EXPECT_EQ(ReadBytes(Real(path)), c.error ? "data" : "") << "refused: left intact";
        WriteBytes(Real(path), "data");
    }
}

TEST_F(SimFilesTest, SymlinksAreReparsePointsAndFoldersAreDirectories) {
    std::filesystem::create_directories(Real(L"C:\\folder"));
    WriteBytes(Real(L"C:\\file"), "x");
    std::filesystem::create_symlink("file", Real(L"C:\\link"));

    // clang-format off
    const std::tuple<const wchar_t*, std::uint32_t, std::uint32_t> cases[] = {
        {L"C:\\link", fa::kFlagOpenReparsePoint, fa::kAttributeReparsePoint},
        {L"C:\\folder", fa::kFlagBackupSemantics, fa::kAttributeDirectory},
    };
    // clang-format on
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
    }
    EXPECT_EQ(files.MoveFileExW(L"C:\\c", L"C:\\b", 0), fa::kErrorAlreadyExists);
    EXPECT_EQ(ReadBytes(Real(L"C:\\b")), "b");
    EXPECT_EQ(ReadBytes(Real(L"C:\\c")), "a");
}

}  // namespace
}  // namespace lenticor
