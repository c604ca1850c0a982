// Links, pending deletes and final paths on the simulated drives: the undo
// store's safety checks are only as good as these answers.

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/text.h"
#include "platform/sim/sim_files.h"
#include "platform/sim_test_support.h"

namespace lenticor {
namespace {

namespace fa = fileapi;
using testing::WriteBytes;

constexpr std::uint32_t kShareAll = fa::kShareRead | fa::kShareWrite | fa::kShareDelete;

class SimFileLinksTest : public testing::SimDrivesTest {
  protected:
    std::wstring FinalPath(const FileHandle& handle) {
        std::wstring path;
        static_cast<void>(files.GetFinalPathNameByHandleW(handle, 1024, 0, path));
        return path;
    }
};

TEST_F(SimFileLinksTest, LinksAreFollowedInsideAPathAndOpenedThemselvesOnRequest) {
    WriteBytes(Real(L"C:\\Target\\data.txt"), "x");
    std::filesystem::create_directory_symlink(Real(L"C:\\Target"), Real(L"C:\\Junction"));
    std::filesystem::create_symlink(Real(L"C:\\Target\\data.txt"), Real(L"C:\\file-link"));

    const std::uint32_t kLinkFolder = fa::kAttributeReparsePoint | fa::kAttributeDirectory;
    const std::uint32_t kFolder = fa::kFlagBackupSemantics;
    // The path, the flags it is opened with, the attributes and the final path.
    // clang-format off
    const std::tuple<const wchar_t*, std::uint32_t, std::uint32_t, const wchar_t*> cases[] = {
        {L"C:\\Junction\\data.txt", fa::kFlagOpenReparsePoint, fa::kAttributeArchive, L"\\\\?\\C:\\Target\\data.txt"},
        {L"C:\\Junction", kFolder | fa::kFlagOpenReparsePoint, kLinkFolder, L"\\\\?\\C:\\Junction"},
        {L"C:\\Junction", kFolder, fa::kAttributeDirectory, L"\\\\?\\C:\\Target"},
        {L"C:\\Target", kFolder, fa::kAttributeDirectory, L"\\\\?\\C:\\Target"},
        {L"C:\\file-link", fa::kFlagOpenReparsePoint, fa::kAttributeReparsePoint, L"\\\\?\\C:\\file-link"},
        {L"C:\\file-link", 0, fa::kAttributeArchive, L"\\\\?\\C:\\Target\\data.txt"},
    };
    // clang-format on
    for (const auto& [path, flags, attributes, finalPath] : cases) {
        SCOPED_TRACE(WideToUtf8(path));
        const auto opened =
            Open(path, fa::kFileReadAttributes, kShareAll, fa::kOpenExisting, flags);
        ASSERT_TRUE(opened.handle.IsOpen()) << opened.error;
        EXPECT_EQ(files.GetFileInformationByHandle(opened.handle).attributes, attributes);
        EXPECT_EQ(FinalPath(opened.handle), finalPath);
    }
    EXPECT_EQ(files.GetFileAttributesW(L"C:\\Junction").attributes, kLinkFolder);
    // clang-format off
    EXPECT_EQ(files.GetFileAttributesW(L"C:\\Junction\\data.txt").attributes, fa::kAttributeArchive);
    // clang-format on
}

TEST_F(SimFileLinksTest, FinalPathsFollowTheBufferConventionOfWindows) {
    WriteBytes(Real(L"C:\\a\\f.txt"), "x");
    const auto opened = Open(L"c:\\a\\f.txt", fa::kGenericRead, kShareAll);
    ASSERT_TRUE(opened.handle.IsOpen());
    std::wstring path;
    // "\\?\C:\a\f.txt" has 14 units: a 14-unit buffer lacks room for the NUL.
    EXPECT_EQ(files.GetFinalPathNameByHandleW(opened.handle, 14, 0, path), 15u);
    EXPECT_EQ(path, L"");
    EXPECT_EQ(files.GetFinalPathNameByHandleW(opened.handle, 15, 0, path), 14u);
    EXPECT_EQ(path, L"\\\\?\\C:\\a\\f.txt");
}

TEST_F(SimFileLinksTest, ADispositionDeleteWaitsForTheLastHandleAndBlocksNewOpens) {
    WriteBytes(Real(L"C:\\f.txt"), "x");
    auto reader = Open(L"C:\\f.txt", fa::kGenericRead, kShareAll);
    auto deleter = Open(L"C:\\f.txt", fa::kDelete, kShareAll);
    ASSERT_TRUE(reader.handle.IsOpen() && deleter.handle.IsOpen());
    EXPECT_EQ(files.SetFileDispositionInfoDelete(reader.handle), kErrorAccessDenied)
        << "deleting needs DELETE access";
    ASSERT_EQ(files.SetFileDispositionInfoDelete(deleter.handle), kErrorSuccess);
    EXPECT_EQ(Open(L"C:\\f.txt", fa::kGenericRead, kShareAll).error, kErrorAccessDenied);
    deleter.handle.Close();
    EXPECT_TRUE(std::filesystem::exists(Real(L"C:\\f.txt"))) << "deleted with a handle open";
    reader.handle.Close();
    EXPECT_FALSE(std::filesystem::exists(Real(L"C:\\f.txt")));
}

TEST_F(SimFileLinksTest, OrdinalComparisonFoldsAndOrdersUtf16Units) {
    // clang-format off
    const std::tuple<std::wstring, std::wstring, bool, int> cases[] = {
        {L"C:\\ProgramData", L"c:\\programdata", true, fa::kCstrEqual},
        {L"abc", L"ABC", false, fa::kCstrGreaterThan},
        {L"\u00e9t\u00e9", L"\u00c9T\u00c9", true, fa::kCstrEqual},
        {L"ab", L"abc", true, fa::kCstrLessThan},
        // Code units decide: U+10000 is D800 DC00 in UTF-16, below U+E000.
        {L"\U00010000", L"\ue000", false, fa::kCstrLessThan},
    };
    // clang-format on
    for (const auto& [a, b, ignoreCase, result] : cases)
        EXPECT_EQ(files.CompareStringOrdinal(a, b, ignoreCase), result) << WideToUtf8(a);
}

}  // namespace
}  // namespace lenticor
