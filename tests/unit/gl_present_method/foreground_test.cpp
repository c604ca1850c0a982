#include "gl_present_method/foreground.h"

#include "platform/sim/sim_machine.h"

#include <gtest/gtest.h>

namespace lenticor::gl_present_method {
namespace {

TEST(ClassifyGraphicsApi, WholeModuleNamesInAnyLetterCase) {
    const std::pair<std::vector<std::wstring>, std::string> cases[] = {
        {{}, "other"},
        {{L"quake.exe", L"NVOGLV64.DLL"}, "opengl"},
        {{L"Vulkan-1.dll", L"nvoglv32.dll"}, "vulkan"},
        {{L"vulkan-1.dll", L"opengl32.dll"}, "other"},
        {{L"xnvoglv64.dll", L"nvoglv64.dll.mui", L"vulkan-1.dll"}, "other"},
    };
    for (const auto& [modules, api] : cases) {
        EXPECT_EQ(ClassifyGraphicsApi(modules), api) << api;
    }
}

// Detection on a simulated machine whose foreground process is quake.exe
// with `patch` merged in. A missing window or thread and a process that
// cannot be opened or named are pinned end to end, as is a failed snapshot.
std::optional<ForegroundProcess> Detect(const nlohmann::json& patch) {
    // clang-format off
    nlohmann::json foreground = {{"threadId", 4}, {"processId", 8}, {"imagePath", "C:\\Games\\quake.exe"}, {"modules", {"quake.exe", "nvoglv64.dll"}}};
    foreground.merge_patch(patch);
    auto machine = sim::ParseMachine({{"adapters", nlohmann::json::array()}, {"foreground", foreground}});
    // clang-format on
    sim::SimProcesses processes(machine);
    return DetectForegroundProcess(processes);
}

TEST(DetectForegroundProcess, ExeFromTheImagePathAndModulesWhenTheSnapshotWorks) {
    // Windows writes the image path with its NUL, so 519 characters are the
    // most that fit the 520-character buffer.
    const auto path = [](std::size_t length) { return "C:\\" + std::string(length - 3, 'g'); };
    const std::vector<std::wstring> both{L"quake.exe", L"nvoglv64.dll"};
    // The patch, the exe (empty: nothing detected) and its modules.
    const std::tuple<nlohmann::json, std::wstring, std::vector<std::wstring>> cases[] = {
        {{{"processId", 0}}, L"", {}},
        {{{"imagePath", path(520)}}, L"", {}},
        {{{"imagePath", path(519)}}, std::wstring(516, L'g'), both},
        {nlohmann::json::object(), L"quake.exe", both},
        {{{"imagePath", "D:/Games/doom.exe"}}, L"doom.exe", both},
        {{{"imagePath", "D:\\a/b\\c.exe"}}, L"c.exe", both},
        {{{"imagePath", "game.exe"}}, L"game.exe", both},
        // A module list that changed while it was copied is asked for again,
        // but not forever.
        {{{"faults", {{"snapshotBadLength", 7}}}}, L"quake.exe", both},
        {{{"faults", {{"snapshotBadLength", 8}}}}, L"quake.exe", {}},
    };
    for (const auto& [patch, exe, modules] : cases) {
        const auto detected = Detect(patch);
        ASSERT_EQ(detected.has_value(), !exe.empty()) << patch;
        if (detected) {
            EXPECT_EQ(std::tie(detected->exe, detected->modules), std::tie(exe, modules)) << patch;
        }
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
