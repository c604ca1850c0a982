#pragma once
// The real Windows adapters, one per port. Each is defined in the source file
// named after its port (Files in win32_files.cpp, MonitorConfiguration in
// win32_monitor_configuration.cpp, and so on) and made only here; each of its
// members is the Windows call its port names, nothing more.

#include "platform/config_manager.h"
#include "platform/crypto.h"
#include "platform/display_config.h"
#include "platform/display_devices.h"
#include "platform/dxgi.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/modules.h"
#include "platform/monitor_configuration.h"
#include "platform/monitors.h"
#include "platform/platform.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/standard_input.h"
#include "platform/steady_clock.h"
#include "platform/video_inputs.h"
#include "platform/window_system.h"

#include <memory>

namespace lenticor::win32 {

[[nodiscard]] std::unique_ptr<ConfigManager> MakeWin32ConfigManager();
[[nodiscard]] std::unique_ptr<Crypto> MakeWin32Crypto();
[[nodiscard]] std::unique_ptr<DisplayConfig> MakeWin32DisplayConfig();
[[nodiscard]] std::unique_ptr<DisplayDevices> MakeWin32DisplayDevices();
[[nodiscard]] std::unique_ptr<Dxgi> MakeWin32Dxgi();
[[nodiscard]] std::unique_ptr<Environment> MakeWin32Environment();
[[nodiscard]] std::unique_ptr<Files> MakeWin32Files();
[[nodiscard]] std::unique_ptr<ModuleLoader> MakeWin32ModuleLoader();
[[nodiscard]] std::unique_ptr<MonitorConfiguration> MakeWin32MonitorConfiguration();
[[nodiscard]] std::unique_ptr<Monitors> MakeWin32Monitors();
[[nodiscard]] std::unique_ptr<Processes> MakeWin32Processes();
[[nodiscard]] std::unique_ptr<Registry> MakeWin32Registry();
[[nodiscard]] std::unique_ptr<StandardInput> MakeWin32StandardInput();
[[nodiscard]] std::unique_ptr<SteadyClock> MakeWin32SteadyClock();
[[nodiscard]] std::unique_ptr<VideoInputDevices> MakeWin32VideoInputDevices();
[[nodiscard]] std::unique_ptr<WindowSystem> MakeWin32WindowSystem();

// The ports both executables take from this PC, as HostPorts names them.
struct Win32Host {
    std::unique_ptr<Files> files = MakeWin32Files();
    std::unique_ptr<Crypto> crypto = MakeWin32Crypto();
    std::unique_ptr<Environment> environment = MakeWin32Environment();
    std::unique_ptr<StandardInput> standardInput = MakeWin32StandardInput();

    [[nodiscard]] HostPorts Ports() { return {*files, *crypto, *environment, *standardInput}; }
};

}  // namespace lenticor::win32
