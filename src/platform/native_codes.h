#pragma once
// The native result codes the ports hand back unchanged, so the portable core
// can log and compare exactly what Windows said. HRESULTs are negative on
// failure; Win32 error numbers are positive, 0 meaning success.

#include <cstdint>

namespace lenticor {

using HResult = std::int32_t;
using Win32Error = std::int32_t;

[[nodiscard]] constexpr bool Succeeded(HResult hr) {
    return hr >= 0;
}

constexpr HResult kSOk = 0;
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kDxgiErrorNotFound = static_cast<HResult>(0x887A0002u);
constexpr HResult kDxgiErrorNotCurrentlyAvailable = static_cast<HResult>(0x887A0022u);

constexpr Win32Error kErrorSuccess = 0;
constexpr Win32Error kErrorFileNotFound = 2;
constexpr Win32Error kErrorAccessDenied = 5;
constexpr Win32Error kErrorGenFailure = 31;
constexpr Win32Error kErrorNotSupported = 50;
constexpr Win32Error kErrorInvalidParameter = 87;
constexpr Win32Error kErrorInsufficientBuffer = 122;
constexpr Win32Error kErrorMoreData = 234;
constexpr Win32Error kErrorNoMoreItems = 259;
constexpr Win32Error kErrorUnsupportedType = 1630;

}  // namespace lenticor
