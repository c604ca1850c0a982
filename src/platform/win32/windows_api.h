#pragma once
// <windows.h> for the adapters, without the A/W macros that would rename the
// port operations of the same names (EnumDisplayDevices, EnumDisplaySettings).
// The adapters call the W functions by their full names.

#include <windows.h>

#undef EnumDisplayDevices
#undef EnumDisplaySettings
