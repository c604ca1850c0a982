#pragma once
// <windows.h> for the adapters, without the A/W macros that would rename the
// port operations of the same names (EnumDisplayDevices, EnumDisplaySettings,
// ChangeDisplaySettingsEx, GetEnvironmentVariable). The adapters call the W
// functions by their full names.

#include <windows.h>

#undef ChangeDisplaySettingsEx
#undef EnumDisplayDevices
#undef EnumDisplaySettings
#undef GetEnvironmentVariable
