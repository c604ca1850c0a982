#include "windows_api.h"

#include "fixed_text.h"
#include "win32_ports.h"

#include <exception>

namespace lenticor::win32 {
namespace {

struct EnumContext {
    const std::function<bool(MonitorHandle)>* visit;
    std::exception_ptr error;  // carried past the Windows frames, rethrown after
};

BOOL CALLBACK VisitMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto& context = *reinterpret_cast<EnumContext*>(data);
    try {
        return (*context.visit)({reinterpret_cast<std::uintptr_t>(monitor)}) ? TRUE : FALSE;
    } catch (...) {
        context.error = std::current_exception();
        return FALSE;
    }
}

nimbo::dcfg::RECTL FromNative(const RECT& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

// The real Windows monitors: the desktop's display monitors and their
// rectangles.
class Win32Monitors final : public Monitors {
  public:
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override {
        EnumContext context{&visit, nullptr};
        const BOOL completed = ::EnumDisplayMonitors(nullptr, nullptr, VisitMonitor,
                                                     reinterpret_cast<LPARAM>(&context));
        enumerationError_ = completed != FALSE ? 0 : ::GetLastError();
        if (context.error)
            std::rethrow_exception(context.error);
        return completed != FALSE;
    }

    [[nodiscard]] Win32Error EnumerationError() const override { return enumerationError_; }
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override {
        MONITORINFOEXW native{};
        native.cbSize = sizeof(native);
        if (!::GetMonitorInfoW(reinterpret_cast<HMONITOR>(monitor.value), &native))
            return false;
        info.monitor = FromNative(native.rcMonitor);
        info.work = FromNative(native.rcWork);
        info.flags = native.dwFlags;
        info.device = FromFixed(native.szDevice);
        return true;
    }

  private:
    Win32Error enumerationError_ = kErrorSuccess;
};

}  // namespace

std::unique_ptr<Monitors> MakeWin32Monitors() {
    return std::make_unique<Win32Monitors>();
}

}  // namespace lenticor::win32
