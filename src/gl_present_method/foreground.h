#pragma once
// Which program is in front, and which graphics interface it drives, for
// --gl-present-method detect.

#include "platform/processes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor::gl_present_method {

// QueryFullProcessImageNameW's buffer: room for long paths without the
// \\?\ form (the detected exe is only the file name anyway).
inline constexpr std::uint32_t kImageNameCapacity = 520;
// Tries of the module snapshot while it answers ERROR_BAD_LENGTH.
inline constexpr int kSnapshotAttempts = 8;

struct ForegroundProcess {
    std::wstring exe;                          // L"quake.exe"
    std::vector<std::wstring> modules;         // szModule of every loaded module, as listed
    Win32Error snapshotError = kErrorSuccess;  // why the module list is missing
};

// The process owning the foreground window: its exe name and its module
// names. Nullopt when there is no foreground window, its thread or process
// cannot be identified, or the process's image name cannot be read. A module
// snapshot that fails (a process that is exiting, or one this user may not
// inspect) still identifies the exe, with no modules and the snapshot's error.
[[nodiscard]] std::optional<ForegroundProcess> DetectForegroundProcess(Processes& processes);

// The text after the last backslash or slash; the whole path without either.
//   L"C:\\Games\\Quake\\quake.exe" -> L"quake.exe"
[[nodiscard]] std::wstring ExeNameFromImagePath(std::wstring_view imagePath);

// "vulkan" when the NVIDIA OpenGL driver (nvoglv64.dll, or nvoglv32.dll in a
// 32-bit game) and the Vulkan loader are both loaded, "opengl" with the OpenGL
// driver alone, "other" otherwise (no such driver, or no modules read). Names
// are compared whole after lower-casing, so "NVOGLV64.DLL" counts and
// "xnvoglv64.dll" does not.
[[nodiscard]] std::string ClassifyGraphicsApi(const std::vector<std::wstring>& modules);

}  // namespace lenticor::gl_present_method
