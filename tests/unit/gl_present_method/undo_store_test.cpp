// The undo stores over the simulated drives and registry, where links and
// hard links behave as on Windows.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "app/text.h"
#include "gl_present_method/undo_store.h"
#include "platform/sim/posix_host.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim/sim_readiness.h"
#include "platform/sim/sim_steady_clock.h"
#include "platform/sim_test_support.h"

namespace lenticor::gl_present_method {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

constexpr wchar_t kRecordFile[] =
    L"C:\\ProgramData\\Korvo\\VistelCompat\\GlPresentMethod\\app.exe.undo";

class UndoStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("ProgramData");
        std::filesystem::create_directories(Real(L"C:\\ProgramData"));
    }
    void TearDown() override { ::unsetenv("ProgramData"); }

    std::filesystem::path Real(const std::wstring& path) const { return *files.RealPathOf(path); }
    void Link(const std::wstring& path, const std::wstring& target) {
        std::filesystem::create_directories(Real(target));
        std::filesystem::create_directories(Real(path).parent_path());
        std::filesystem::create_directory_symlink(Real(target), Real(path));
    }
    void SetRegistryText(const std::wstring& text) {
        const auto value = sim::MakeRegistryString(text);
        // clang-format off
        ASSERT_EQ(registry.RegSetKeyValueW(RegistryHive::CurrentUser, L"Software\\Korvo\\VistelCompat\\GlPresentMethod", L"app.exe", value.type, value.data), kErrorSuccess);
        // clang-format on
    }

    testing::ScratchRoot root;
    SimFiles files{root.Path()};
    sim::SimMachine machine;
    sim::SimRegistry registry{machine};
    sim::ProcessEnvironment environment;
    sim::SimSteadyClock clock{machine};
    MachineUndoStore machineStore{files, environment, clock};
    RegistryUndoStore registryStore{registry};
    UndoStore store{files, environment, registry, clock};
};

TEST_F(UndoStoreTest, TheMachineFolderFollowsProgramDataUnlessUnsetOrTooLong) {
    struct Case {
        std::optional<std::string> programData;
        std::wstring recordFile;
        // Windows refuses a record path past MAX_PATH when it lacks "\\?\".
        bool written = true;
    };
    // 259 characters, in folders short enough for the real file system.
    std::string longest = "D:";
    while (longest.size() + 10 <= 259)
        longest += "\\abcdefghi";
    longest += "\\" + std::string(259 - longest.size() - 1, 'z');
    // clang-format off
    const Case cases[] = {
        {std::nullopt, kRecordFile},
        {"D:\\Shared", L"D:\\Shared\\Korvo\\VistelCompat\\GlPresentMethod\\app.exe.undo"},
        {longest, std::wstring(longest.begin(), longest.end()) + L"\\Korvo\\VistelCompat\\GlPresentMethod\\app.exe.undo", false},
        {longest + "y", kRecordFile},
    };
    // clang-format on
    for (const auto& c : cases) {
        if (c.programData)
            ::setenv("ProgramData", c.programData->c_str(), 1);
        else
            ::unsetenv("ProgramData");
        const auto real = Real(c.recordFile);
        // ProgramData itself exists; the store creates only what is below it.
        std::filesystem::create_directories(
            real.parent_path().parent_path().parent_path().parent_path());
        const auto where = c.programData.value_or("(unset)");
        ASSERT_EQ(machineStore.Write(L"app.exe", "own"), c.written) << where;
        EXPECT_EQ(ReadBytes(real), c.written ? "own" : "") << where;
    }
}

// A junction in the record folder's path (the folder above it, or the one
// above that) moves the final path: the file behind it is neither read,
// written nor deleted, and the record goes to the registry instead.
TEST_F(UndoStoreTest, AJunctionInTheMachinePathSendsTheRecordToTheRegistry) {
    for (const std::wstring link :
         {L"C:\\ProgramData\\Korvo\\VistelCompat", L"C:\\ProgramData\\Korvo"}) {
        const std::string text = WideToUtf8(link);
        SCOPED_TRACE(text);
        std::filesystem::remove_all(Real(L"C:\\ProgramData\\Korvo"));
        Link(link, L"C:\\Elsewhere");
        const auto behind = Real(L"C:\\Elsewhere" + std::wstring(kRecordFile).substr(link.size()));
        WriteBytes(behind, "default");

        EXPECT_EQ(machineStore.Read(L"app.exe"), std::nullopt) << "read through the junction";
        EXPECT_FALSE(machineStore.Remove(L"app.exe"));
        EXPECT_FALSE(machineStore.Write(L"app.exe", "own"));
        ASSERT_TRUE(store.Write(L"app.exe", text));
        EXPECT_EQ(store.Read(L"app.exe"), text);
        EXPECT_EQ(ReadBytes(behind), "default");
    }
}

TEST_F(UndoStoreTest, ARecordFileWithASecondNameIsOnlyEverUnlinked) {
    WriteBytes(Real(kRecordFile), "user:7");
    std::filesystem::create_directories(Real(L"C:\\Users\\Public"));
    std::filesystem::create_hard_link(Real(kRecordFile), Real(L"C:\\Users\\Public\\other"));

    EXPECT_EQ(machineStore.Read(L"app.exe"), std::nullopt);
    EXPECT_FALSE(machineStore.Write(L"app.exe", "own"));
    EXPECT_EQ(ReadBytes(Real(kRecordFile)), "user:7") << "a refused write touched the file";

    ASSERT_TRUE(store.Write(L"app.exe", "own"));
    EXPECT_FALSE(std::filesystem::exists(Real(kRecordFile)));
    EXPECT_EQ(ReadBytes(Real(L"C:\\Users\\Public\\other")), "user:7");
    EXPECT_EQ(registryStore.Read(L"app.exe"), "own");
    machine.faults.regFlushKey = kErrorAccessDenied;
    EXPECT_FALSE(registryStore.Write(L"app.exe", "user:1"))
        << "a record that may not reach the disk";
}

TEST_F(UndoStoreTest, AMachineWriteClearsTheRegistryAndRemovingClearsBothPlaces) {
    EXPECT_TRUE(store.Remove(L"app.exe")) << "removing nothing";
    SetRegistryText(L"default");
    WriteBytes(Real(kRecordFile), "user:4294967295");
    ASSERT_TRUE(store.Write(L"app.exe", "own"));
    EXPECT_EQ(ReadBytes(Real(kRecordFile)), "own") << "the old text was not truncated";
    EXPECT_EQ(registryStore.Read(L"app.exe"), std::nullopt);
    {  // an undo deleting the record at this instant, sharing all
        const auto undo =
            files.CreateFileW(kRecordFile, fileapi::kDelete, 7, fileapi::kOpenExisting, 0);
        EXPECT_EQ(machineStore.Read(L"app.exe"), "own") << "read beside an undo";
    }
    {  // a reader that shares neither writing nor deleting: the record stays and would shadow
        const auto reader = files.CreateFileW(kRecordFile, fileapi::kGenericRead,
                                              fileapi::kShareRead, fileapi::kOpenExisting, 0);
        EXPECT_FALSE(store.Write(L"app.exe", "default"));
        EXPECT_EQ(registryStore.Read(L"app.exe"), std::nullopt) << "a shadowed registry record";
    }
    // Names Windows cannot store hold no record: over 255 bytes, a reserved character.
    for (const std::wstring& name : {std::wstring(86, L'\u20ac'), std::wstring(L"a?.exe")})
        EXPECT_TRUE(store.Remove(name)) << WideToUtf8(name);

    SetRegistryText(L"default");
    EXPECT_TRUE(store.Remove(L"app.exe"));
    EXPECT_FALSE(std::filesystem::exists(Real(kRecordFile)));
    EXPECT_EQ(store.Read(L"app.exe"), std::nullopt);
}

TEST_F(UndoStoreTest, StatusRunsReadingTheRecordNeverMakeAnUndoFail) {
    std::atomic<bool> done = false;
    std::thread status([&] {
        SimFiles own(root.Path());  // another process
        MachineUndoStore reader(own, environment, clock);
        while (!done)
            static_cast<void>(reader.Read(L"app.exe"));
    });
    int failed = 0;
    for (int cycle = 0; cycle < 300; ++cycle) {
        WriteBytes(Real(kRecordFile), "own");
        failed += machineStore.Remove(L"app.exe") ? 0 : 1;
    }
    done = true;
    status.join();
    EXPECT_EQ(failed, 0);
}

TEST_F(UndoStoreTest, ReadsStopAtSixtyThreeCharacters) {
    const std::string text63(63, 'a');
    // NTFS keeps the spelling it was created with; the final path shows it.
    WriteBytes(Real(L"C:\\PROGRAMDATA\\korvo\\VistelCompat\\GlPresentMethod\\APP.exe.undo"),
               text63 + "bbbb");
    EXPECT_EQ(machineStore.Read(L"app.exe"), text63);

    for (const std::size_t length : {63, 64}) {
        SetRegistryText(std::wstring(length, L'u'));
        EXPECT_EQ(registryStore.Read(L"app.exe").has_value(), length == 63) << length;
    }
    auto& key = sim::AddSimRegistryKey(machine, sim::SimHive::CurrentUser,
                                       L"Software\\Korvo\\VistelCompat\\GlPresentMethod");
    key.values[L"app.exe"] = {kRegDword, {1, 0, 0, 0}};
    EXPECT_EQ(registryStore.Read(L"app.exe"), std::nullopt) << "a DWORD read as text";
}

}  // namespace
}  // namespace lenticor::gl_present_method
