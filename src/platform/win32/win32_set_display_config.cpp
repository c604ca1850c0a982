#include "windows_api.h"

#include "win32_ports.h"

#include <cstring>
#include <vector>

namespace lenticor::win32 {

static_assert(offsetof(::DISPLAYCONFIG_PATH_INFO, sourceInfo.modeInfoIdx) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO, sourceInfo.modeInfoIdx));
static_assert(offsetof(::DISPLAYCONFIG_PATH_INFO, targetInfo.targetAvailable) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO, targetInfo.targetAvailable));
static_assert(offsetof(::DISPLAYCONFIG_MODE_INFO, adapterId) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_MODE_INFO, adapterId));
static_assert(offsetof(::DISPLAYCONFIG_MODE_INFO, sourceMode.position) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_MODE_INFO, sourceMode.position));

Win32Error Win32DisplayConfig::SetDisplayConfig(
    std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
    std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes, std::uint32_t flags) {
    // SetDisplayConfig takes non-const arrays; hand it private copies.
    std::vector<::DISPLAYCONFIG_PATH_INFO> nativePaths(paths.size());
    std::vector<::DISPLAYCONFIG_MODE_INFO> nativeModes(modes.size());
    if (!paths.empty())
        std::memcpy(nativePaths.data(), paths.data(), paths.size_bytes());
    if (!modes.empty())
        std::memcpy(nativeModes.data(), modes.data(), modes.size_bytes());
    return ::SetDisplayConfig(static_cast<UINT32>(nativePaths.size()),
                              nativePaths.empty() ? nullptr : nativePaths.data(),
                              static_cast<UINT32>(nativeModes.size()),
                              nativeModes.empty() ? nullptr : nativeModes.data(), flags);
}

}  // namespace lenticor::win32
