#include "platform/sim/sim_window_system.h"

#include "app/text.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor::sim {

Win32Error SimWindowSystem::RegisterDefaultWindowClass(std::wstring_view className) {
    const PortCall counted;
    if (machine_.desktop.faults.registerClass)
        return *machine_.desktop.faults.registerClass;
    if (!classes_.insert(ToLowerWide(className)).second)
        return kErrorClassAlreadyExists;
    return kErrorSuccess;
}

Win32Error SimWindowSystem::CreateBareWindow(std::wstring_view className, WindowHandle& window) {
    const PortCall counted;
    if (machine_.desktop.faults.createWindow)
        return *machine_.desktop.faults.createWindow;
    if (!classes_.contains(ToLowerWide(className)))
        return kErrorCannotFindWindowClass;
    window = nextWindow_;
    nextWindow_ += 4;
    windows_.insert(window);
    return kErrorSuccess;
}

std::intptr_t SimWindowSystem::SendWindowMessage(WindowHandle window, std::uint32_t message,
                                                 std::uintptr_t wParam, std::intptr_t lParam) {
    const PortCall counted;
    // DefWindowProcW hands SC_MONITORPOWER to the system, which powers every display.
    if (windows_.contains(window) && message == kWmSysCommand && wParam == kScMonitorPower &&
        lParam == kMonitorPowerOff) {
        ++machine_.desktop.displaysOffRequests;
        machine_.desktop.changed = true;
    }
    return 0;
}

bool SimWindowSystem::DestroyWindow(WindowHandle window) {
    const PortCall counted;
    return windows_.erase(window) != 0;
}

bool SimWindowSystem::UnregisterWindowClass(std::wstring_view className) {
    const PortCall counted;
    return classes_.erase(ToLowerWide(className)) != 0;
}

}  // namespace lenticor::sim
