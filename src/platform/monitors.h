#pragma once
// Port: the monitors of the desktop (EnumDisplayMonitors, GetMonitorInfoW).

#include "platform/native_codes.h"

#include <compare>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/display_config_types.h"

namespace lenticor {

// An HMONITOR; only meaningful while the desktop it came from lasts. A type of
// its own so that it cannot be handed where a physical monitor is expected.
struct MonitorHandle {
    std::uintptr_t value = 0;
    friend auto operator<=>(const MonitorHandle&, const MonitorHandle&) = default;
};

// MONITORINFOEXW.
struct MonitorInfo {
    nimbo::dcfg::RECTL monitor{};
    nimbo::dcfg::RECTL work{};
    std::uint32_t flags = 0;  // MONITORINFOF_PRIMARY = 1
    std::wstring device;      // szDevice, the GDI device name (at most 31 code units)
};

class Monitors {
  public:
    virtual ~Monitors() = default;

    // EnumDisplayMonitors(NULL, NULL, ...) over the whole desktop. `visit`
    // returning false stops the enumeration, which then reports false, as the
    // callback's FALSE does on Windows.
    [[nodiscard]] virtual bool EnumDisplayMonitors(
        const std::function<bool(MonitorHandle)>& visit) = 0;

    // GetLastError() as it stood right after an EnumDisplayMonitors that
    // reported false; 0 where nothing recorded one.
    [[nodiscard]] virtual Win32Error EnumerationError() const { return kErrorSuccess; }

    // GetMonitorInfoW with a MONITORINFOEXW; false when the call failed.
    [[nodiscard]] virtual bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) = 0;
};

}  // namespace lenticor
