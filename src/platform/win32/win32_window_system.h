#pragma once
// The real Windows window system: a bare window of a default class, to send
// the displays their power-off message through.

#include "platform/window_system.h"

namespace lenticor::win32 {

class Win32WindowSystem final : public WindowSystem {
  public:
    Win32Error RegisterDefaultWindowClass(std::wstring_view className) override;
    Win32Error CreateBareWindow(std::wstring_view className, WindowHandle& window) override;
    std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) override;
    bool DestroyWindow(WindowHandle window) override;
    bool UnregisterWindowClass(std::wstring_view className) override;
};

}  // namespace lenticor::win32
