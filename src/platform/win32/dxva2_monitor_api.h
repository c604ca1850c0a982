#pragma once
// The physical-monitor and low-level monitor configuration functions of
// dxva2.dll. MinGW-w64 ships <physicalmonitorenumerationapi.h> but not
// <lowlevelmonitorconfigurationapi.h>; its libdxva2 import library has every
// export, so the missing prototypes are declared here with the signatures of
// https://learn.microsoft.com/en-us/windows/win32/api/lowlevelmonitorconfigurationapi/
// Wine 8's dxva2.dll exports all seven functions the adapter calls, so they
// are imported statically.

#include "windows_api.h"

#include <physicalmonitorenumerationapi.h>

#if __has_include(<lowlevelmonitorconfigurationapi.h>)
#include <lowlevelmonitorconfigurationapi.h>
#else
extern "C" {

typedef enum _MC_VCP_CODE_TYPE { MC_MOMENTARY, MC_SET_PARAMETER } MC_VCP_CODE_TYPE;
typedef MC_VCP_CODE_TYPE* LPMC_VCP_CODE_TYPE;

__declspec(dllimport) BOOL WINAPI
    GetCapabilitiesStringLength(HANDLE hMonitor, LPDWORD pdwCapabilitiesStringLengthInCharacters);
__declspec(dllimport) BOOL WINAPI
    CapabilitiesRequestAndCapabilitiesReply(HANDLE hMonitor, LPSTR pszASCIICapabilitiesString,
                                            DWORD dwCapabilitiesStringLengthInCharacters);
__declspec(dllimport) BOOL WINAPI
    GetVCPFeatureAndVCPFeatureReply(HANDLE hMonitor, BYTE bVCPCode, LPMC_VCP_CODE_TYPE pvct,
                                    LPDWORD pdwCurrentValue, LPDWORD pdwMaximumValue);
__declspec(dllimport) BOOL WINAPI SetVCPFeature(HANDLE hMonitor, BYTE bVCPCode, DWORD dwNewValue);
}
#endif

// The records DestroyPhysicalMonitors reads are the ones
// GetPhysicalMonitorsFromHMONITOR wrote: a handle and 128 UTF-16 units, packed.
static_assert(sizeof(PHYSICAL_MONITOR) == sizeof(HANDLE) + 128 * sizeof(WCHAR));
