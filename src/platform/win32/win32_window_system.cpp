#include "windows_api.h"

#include "win32_ports.h"

#include <string>

namespace lenticor::win32 {
namespace {

// The real Windows window system: a bare window of a default class, to send
// the displays their power-off message through.
class Win32WindowSystem final : public WindowSystem {
  public:
    Win32Error RegisterDefaultWindowClass(std::wstring_view className) override {
        const std::wstring name(className);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = name.c_str();
        if (::RegisterClassW(&windowClass) == 0)
            return static_cast<Win32Error>(::GetLastError());
        return ERROR_SUCCESS;
    }

    Win32Error CreateBareWindow(std::wstring_view className, WindowHandle& window) override {
        const std::wstring name(className);
        const HWND created = ::CreateWindowExW(0, name.c_str(), L"", 0, 0, 0, 0, 0, nullptr,
                                               nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (created == nullptr)
            return static_cast<Win32Error>(::GetLastError());
        window = reinterpret_cast<WindowHandle>(created);
        return ERROR_SUCCESS;
    }

    std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) override {
        return ::SendMessageW(reinterpret_cast<HWND>(window), message, wParam, lParam);
    }

    bool DestroyWindow(WindowHandle window) override {
        return ::DestroyWindow(reinterpret_cast<HWND>(window)) != FALSE;
    }

    bool UnregisterWindowClass(std::wstring_view className) override {
        const std::wstring name(className);
        return ::UnregisterClassW(name.c_str(), ::GetModuleHandleW(nullptr)) != FALSE;
    }
};

}  // namespace

std::unique_ptr<WindowSystem> MakeWin32WindowSystem() {
    return std::make_unique<Win32WindowSystem>();
}

}  // namespace lenticor::win32
