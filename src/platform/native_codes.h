#pragma once
// The native result codes the ports hand back unchanged, so the portable core
// can log and compare exactly what Windows said. HRESULTs are negative on
// failure; Win32 error numbers are GetLastError's DWORD, 0 meaning success.
// Every port that reports a Win32 error number uses Win32Error and the
// constants below.

#include <cstdint>

namespace lenticor {

using HResult = std::int32_t;
using Win32Error = std::uint32_t;

[[nodiscard]] constexpr bool Succeeded(HResult hr) {
    return hr >= 0;
}

constexpr HResult kSOk = 0;
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kDxgiErrorNotFound = static_cast<HResult>(0x887A0002u);
constexpr HResult kDxgiErrorNotCurrentlyAvailable = static_cast<HResult>(0x887A0022u);

constexpr Win32Error kErrorSuccess = 0;
constexpr Win32Error kErrorInvalidFunction = 1;
constexpr Win32Error kErrorFileNotFound = 2;
constexpr Win32Error kErrorPathNotFound = 3;
constexpr Win32Error kErrorAccessDenied = 5;
constexpr Win32Error kErrorInvalidHandle = 6;
constexpr Win32Error kErrorNotEnoughMemory = 8;
constexpr Win32Error kErrorWriteProtect = 19;
// ERROR_BAD_LENGTH from a module snapshot: the list changed while it was
// taken; Microsoft says to try again.
constexpr Win32Error kErrorBadLength = 24;
constexpr Win32Error kErrorGenFailure = 31;
constexpr Win32Error kErrorSharingViolation = 32;
constexpr Win32Error kErrorLockViolation = 33;
constexpr Win32Error kErrorNotSupported = 50;
constexpr Win32Error kErrorFileExists = 80;
constexpr Win32Error kErrorInvalidParameter = 87;
constexpr Win32Error kErrorDiskFull = 112;
constexpr Win32Error kErrorInsufficientBuffer = 122;
constexpr Win32Error kErrorInvalidName = 123;
constexpr Win32Error kErrorModNotFound = 126;
constexpr Win32Error kErrorProcNotFound = 127;
constexpr Win32Error kErrorAlreadyExists = 183;
constexpr Win32Error kErrorFilenameExcedRange = 206;
constexpr Win32Error kErrorMoreData = 234;
constexpr Win32Error kErrorNoMoreItems = 259;
// A file system without the feature asked for (exFAT and POSIX renames).
constexpr Win32Error kErrorFileSystemLimitation = 665;
constexpr Win32Error kErrorCannotFindWindowClass = 1407;
constexpr Win32Error kErrorClassAlreadyExists = 1410;
constexpr Win32Error kErrorUnsupportedType = 1630;

}  // namespace lenticor
