// The simulated file system must answer like Windows where the journal store
// looks, or the journal tests over it prove nothing about Windows.

#include <gtest/gtest.h>

#include <array>
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
        {L"C:\\a.\\...\\b", L"C:\\a\\...\\b"},
    };
    // clang-format on
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(WindowsFullPath(input, L"D:\\work").value_or(L"?"), expected)
            << WideToUtf8(input);
}

using SimFilesTest = testing::SimDrivesTest;

TEST_F(SimFilesTest, ShareModeConflictsHoldAcrossProcessesAndLeaveTheFileIntact) {
    const std::uint32_t kArchive = kRead | kWrite | fa::kDelete;
    constexpr Win32Error kViolation = kErrorSharingViolation;
    // The first open's access and share, then the second's and what it gets.
    // clang-format off
    const std::array<std::uint32_t, 5> cases[] = {
        {kRead | kWrite, fa::kShareNone, kRead | kWrite, fa::kShareNone, kViolation},
        {kRead, kShareAll, kArchive, fa::kShareRead, 0},
        {kRead, fa::kShareRead, kArchive, fa::kShareRead, kViolation},
        {kWrite, kShareAll, kRead, fa::kShareRead, kViolation},
    };
    // clang-format on
    const std::wstring path = L"C:\\share.bin";
    WriteBytes(Real(path), "data");
    for (const auto& [firstAccess, firstShare, secondAccess, secondShare, error] : cases) {
        const auto first = Open(path, firstAccess, firstShare);
        ASSERT_TRUE(first.handle.IsOpen());
        // clang-format off
        EXPECT_EQ(testing::ExitCodeInChildProcess([&] {
            SimFiles own(root.Path());
            return int(own.CreateFileW(path, secondAccess, secondShare, fa::kCreateAlways, fa::kAttributeNormal).error);
        }), static_cast<int>(error)) << firstAccess << " " << firstShare << " " << secondAccess;
        // clang-format on
        EXPECT_EQ(ReadBytes(Real(path)), error ? "data" : "") << "refused: left intact";
        WriteBytes(Real(path), "data");
    }
}

TEST_F(SimFilesTest, NamesAndAttributesAnswerAsOnNtfs) {
    std::filesystem::create_directories(Real(L"C:\\Dir"));
    WriteBytes(Real(L"C:\\Dir\\A.undo"), "a");
    WriteBytes(Real(L"C:\\locked"), "r");
    std::filesystem::permissions(Real(L"C:\\locked"), std::filesystem::perms::owner_read);
    // The path, the access, the disposition, the error.
    // clang-format off
    const std::tuple<const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t> cases[] = {
        {L"C:\\dIR\\a.UNDO", kRead, fa::kOpenExisting, 0},
        {L"C:\\dir\\a.undo", kWrite, fa::kCreateNew, kErrorFileExists},
        {L"C:\\dir\\new", kWrite, fa::kCreateNew, 0},
        {L"C:\\a<b", kRead, fa::kOpenAlways, kErrorInvalidName},
        {L"C:\\x|\\y", kRead, fa::kOpenAlways, kErrorInvalidName},
        {L"C:\\tab\tname", kRead, fa::kOpenAlways, kErrorInvalidName},
        {L"C:\\locked", kWrite, fa::kOpenExisting, kErrorAccessDenied},
        {L"C:\\locked", kRead, fa::kCreateAlways, kErrorAccessDenied},
        {L"C:\\locked", kRead, fa::kOpenExisting, 0},
    };
    // clang-format on
    for (const auto& [path, access, disposition, error] : cases)
        EXPECT_EQ(Open(path, access, kShareAll, disposition).error, error) << WideToUtf8(path);
    EXPECT_EQ(ReadBytes(Real(L"C:\\Dir\\A.undo")), "a");
    EXPECT_TRUE(std::filesystem::exists(Real(L"C:\\Dir\\new")));
}

TEST_F(SimFilesTest, RenamesNeverReplaceUnlessAsked) {
    WriteBytes(Real(L"C:\\a"), "a");
    WriteBytes(Real(L"C:\\b"), "b");
    {
        auto a = Open(L"C:\\a", kRead | fa::kDelete, fa::kShareRead);
        EXPECT_EQ(files.SetFileRenameInfoNoReplace(a.handle, L"C:\\b"), kErrorAlreadyExists);
        EXPECT_EQ(files.SetFileRenameInfoNoReplace(a.handle, L"C:\\c"), kErrorSuccess);
    }
    EXPECT_EQ(files.MoveFileExW(L"C:\\c", L"C:\\b", 0), kErrorAlreadyExists);
    EXPECT_EQ(ReadBytes(Real(L"C:\\b")), "b");
    EXPECT_EQ(ReadBytes(Real(L"C:\\c")), "a");
}

TEST_F(SimFilesTest, OnlyAPosixRenameReplacesAFileOthersHaveOpen) {
    // The reader's share mode, what a plain and what a POSIX rename get.
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> cases[] = {
        {kShareAll, kErrorAccessDenied, 0},
        {fa::kShareRead, kErrorAccessDenied, kErrorSharingViolation},
    };
    for (const auto& [readerShare, plainError, posixError] : cases) {
        for (const bool posix : {false, true}) {
            WriteBytes(Real(L"C:\\new"), "new");
            WriteBytes(Real(L"C:\\journal"), "old");
            const auto reader = Open(L"C:\\journal", kRead, readerShare);
            // clang-format off
            const std::uint32_t error = posix ? files.SetFileRenameInfoPosixReplace(Open(L"C:\\new", fa::kDelete, fa::kShareNone).handle, L"C:\\journal")
                                              : files.MoveFileExW(L"C:\\new", L"C:\\journal", fa::kMoveReplaceExisting);
            // clang-format on
            EXPECT_EQ(error, posix ? posixError : plainError) << posix;
            EXPECT_EQ(ReadBytes(Real(L"C:\\journal")), error == 0 ? "new" : "old");
            std::string seen(3, '?');
            EXPECT_EQ(files.ReadFile(reader.handle, seen.data(), 3).bytes, 3u);
            EXPECT_EQ(seen, "old") << "a reader keeps the file it opened";
        }
    }
}

TEST_F(SimFilesTest, PathsPastMaxPathNeedTheExtendedPrefix) {
    const std::wstring folder = L"C:\\" + std::wstring(200, L'f');
    const std::wstring prefix = L"\\\\?\\";
    // The name after the folder and a separator, whether it is a new folder, the error.
    // clang-format off
    const std::tuple<std::wstring, bool, std::uint32_t> cases[] = {
        {std::wstring(43, L'd'), true, 0},  // 247 characters in all
        {std::wstring(44, L'e'), true, kErrorFilenameExcedRange},
        {std::wstring(55, L'f'), false, 0},  // 259
        {std::wstring(56, L'g'), false, kErrorPathNotFound},
    };
    // clang-format on
    ASSERT_EQ(files.CreateDirectoryW(folder, nullptr), 0u);
    for (const auto& [name, newFolder, dosError] : cases) {
        for (const auto& start : {std::wstring(), prefix}) {
            const std::wstring path = start + folder + L"\\" + name;
            // clang-format off
            const std::uint32_t error = newFolder ? files.CreateDirectoryW(path, nullptr) : Open(path, kWrite, fa::kShareNone, fa::kCreateAlways).error;
            // clang-format on
            EXPECT_EQ(error, start.empty() ? dosError : 0u) << WideToUtf8(path);
            std::filesystem::remove(Real(path));
        }
    }
}

}  // namespace
}  // namespace lenticor
