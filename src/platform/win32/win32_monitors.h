#pragma once
// The real Windows monitors: the desktop's display monitors and their
// rectangles.

#include "platform/monitors.h"

namespace lenticor::win32 {

class Win32Monitors final : public Monitors {
  public:
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override;
    [[nodiscard]] Win32Error EnumerationError() const override { return enumerationError_; }
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override;

  private:
    Win32Error enumerationError_ = kErrorSuccess;
};

}  // namespace lenticor::win32
