#include "gl_present_method/foreground.h"

#include "app/text.h"

#include <algorithm>

namespace lenticor::gl_present_method {

std::optional<ForegroundProcess> DetectForegroundProcess(Processes& processes) {
    const std::uint64_t window = processes.GetForegroundWindow();
    if (window == 0) {
        return std::nullopt;
    }
    std::uint32_t processId = 0;
    if (processes.GetWindowThreadProcessId(window, processId) == 0 || processId == 0) {
        return std::nullopt;
    }
    std::wstring imagePath;
    {
        // The handle is closed before the snapshot is taken.
        const auto process =
            processes.OpenProcess(processapi::kProcessQueryLimitedInformation, processId);
        if (!process || !process->QueryFullProcessImageNameW(0, kImageNameCapacity, imagePath)) {
            return std::nullopt;
        }
    }
    ForegroundProcess foreground{ExeNameFromImagePath(imagePath), {}};
    // A module list that changes while it is copied fails with
    // ERROR_BAD_LENGTH and Microsoft says to try again; a game still loading
    // its driver would otherwise be reported as "other". Bounded, so a
    // process that never settles cannot hold the command.
    std::unique_ptr<ModuleSnapshot> snapshot;
    std::uint32_t error = 0;
    for (int attempt = 0; attempt < kSnapshotAttempts && !snapshot; ++attempt) {
        snapshot = processes.CreateToolhelp32Snapshot(
            processapi::kSnapModule | processapi::kSnapModule32, processId, error);
        if (!snapshot && error != kErrorBadLength) {
            break;
        }
    }
    if (!snapshot) {
        foreground.snapshotError = error;
    } else {
        std::wstring name;
        for (bool more = snapshot->Module32FirstW(name); more;
             more = snapshot->Module32NextW(name)) {
            foreground.modules.push_back(name);
        }
    }
    return foreground;
}

std::wstring ExeNameFromImagePath(std::wstring_view imagePath) {
    const auto slash = imagePath.find_last_of(L"\\/");
    return std::wstring(slash == std::wstring_view::npos ? imagePath : imagePath.substr(slash + 1));
}

std::string ClassifyGraphicsApi(const std::vector<std::wstring>& modules) {
    const auto loaded = [&modules](std::wstring_view name) {
        return std::any_of(modules.begin(), modules.end(), [name](const std::wstring& module) {
            return ToLowerWide(module) == name;
        });
    };
    if (!loaded(L"nvoglv64.dll") && !loaded(L"nvoglv32.dll")) {
        return "other";
    }
    return loaded(L"vulkan-1.dll") ? "vulkan" : "opengl";
}

}  // namespace lenticor::gl_present_method
