#include <ostream>

#include "desktop/desktop_command.h"
#include "platform/window_system.h"

namespace nimbo {
namespace {

constexpr const wchar_t* kDarkenClassName = L"KorvoNimboDesktopDarken";

}  // namespace

bool DarkenDisplays(lenticor::WindowSystem& windows, std::ostream& err) {
    const lenticor::Win32Error registered = windows.RegisterDefaultWindowClass(kDarkenClassName);
    if (registered != lenticor::kErrorSuccess && registered != lenticor::kErrorClassAlreadyExists) {
        err << "[NimboDesktop] darken window class failed: " << registered << std::endl;
        return false;
    }
    lenticor::WindowHandle window = 0;
    const lenticor::Win32Error created = windows.CreateBareWindow(kDarkenClassName, window);
    if (created != lenticor::kErrorSuccess) {
        err << "[NimboDesktop] darken window failed: " << created << std::endl;
        return false;
    }
    // Whatever the message returns, the request has been issued.
    static_cast<void>(windows.SendWindowMessage(
        window, lenticor::kWmSysCommand, lenticor::kScMonitorPower, lenticor::kMonitorPowerOff));
    static_cast<void>(windows.DestroyWindow(window));
    static_cast<void>(windows.UnregisterWindowClass(kDarkenClassName));
    return true;
}

}  // namespace nimbo
