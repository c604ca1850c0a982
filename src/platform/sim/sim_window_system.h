#pragma once
// Windows of the simulated desktop, for the display-off request.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "platform/window_system.h"

namespace lenticor::sim {

struct SimMachine;

// Window classes live as long as the process; the display-off message is
// recorded on the machine.
class SimWindowSystem final : public WindowSystem {
  public:
    explicit SimWindowSystem(SimMachine& machine) : machine_(machine) {}
    Win32Error RegisterDefaultWindowClass(std::wstring_view className) override;
    Win32Error CreateBareWindow(std::wstring_view className, WindowHandle& window) override;
    std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) override;
    bool DestroyWindow(WindowHandle window) override;
    bool UnregisterWindowClass(std::wstring_view className) override;

  private:
    SimMachine& machine_;
    std::set<std::wstring> classes_;
    std::set<WindowHandle> windows_;
    WindowHandle nextWindow_ = 0x10010;
};

}  // namespace lenticor::sim
