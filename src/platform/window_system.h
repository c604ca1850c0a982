#pragma once
// Port: a bare window for broadcasting a system command (RegisterClassW with
// DefWindowProcW, CreateWindowExW, SendMessageW, DestroyWindow,
// UnregisterClassW). Failures return the thread's last error.

#include <cstdint>
#include <string_view>

#include "platform/native_codes.h"

namespace lenticor {

using WindowHandle = std::uintptr_t;  // an HWND

constexpr std::uint32_t kWmSysCommand = 0x0112;
constexpr std::uintptr_t kScMonitorPower = 0xF170;
constexpr std::intptr_t kMonitorPowerOff = 2;

// Method names avoid the A/W macros of windows.h.
class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    // RegisterClassW of a class whose window procedure is DefWindowProcW, in
    // the running module. kErrorSuccess, or GetLastError after a zero atom.
    [[nodiscard]] virtual Win32Error RegisterDefaultWindowClass(std::wstring_view className) = 0;

    // CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, NULL, NULL, module,
    // NULL). kErrorSuccess with `window` set, or GetLastError.
    [[nodiscard]] virtual Win32Error CreateBareWindow(std::wstring_view className,
                                                      WindowHandle& window) = 0;

    // SendMessageW; returns the message's result.
    virtual std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message,
                                            std::uintptr_t wParam, std::intptr_t lParam) = 0;

    virtual bool DestroyWindow(WindowHandle window) = 0;
    virtual bool UnregisterWindowClass(std::wstring_view className) = 0;
};

}  // namespace lenticor
