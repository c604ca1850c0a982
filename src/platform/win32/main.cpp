// lenticor.exe entry point: the one place that chooses the real Windows ports.

#include "app/dispatcher.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "win32_config_manager.h"
#include "win32_crypto.h"
#include "win32_display_config.h"
#include "win32_display_devices.h"
#include "win32_dxgi.h"
#include "win32_environment.h"
#include "win32_files.h"
#include "win32_modules.h"
#include "win32_monitor_configuration.h"
#include "win32_monitors.h"
#include "win32_processes.h"
#include "win32_registry.h"
#include "win32_standard_input.h"
#include "win32_steady_clock.h"
#include "win32_video_inputs.h"
#include "win32_window_system.h"

#if defined(__GLIBCXX__)
#include <cstdio>
#include <cstdlib>
#include <exception>

// libstdc++'s default terminate handler demangles the exception's type name,
// which links a whole C++ demangler (about 45 KB, 4 % of the executable) for a
// path the program never takes on purpose: the dispatcher reports every
// exception a command lets escape. Defining the handler here keeps the
// library's out. What it says is what matters to whoever reads the log.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::fputs("lenticor: terminate called", stderr);
    if (const auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
            std::fputs(" after an exception: ", stderr);
            std::fputs(error.what(), stderr);
        } catch (...) {
            std::fputs(" after an exception", stderr);
        }
    }
    std::fputs("\n", stderr);
    std::abort();
}
}  // namespace __gnu_cxx
#endif

int wmain(int argc, wchar_t** argv) {
    // No process-wide state is touched before dispatch: no console code page,
    // no stream translation mode, no COM, no DPI awareness call.
    lenticor::StandardConsole console;
    lenticor::SystemClock clock;
    lenticor::win32::Win32Dxgi dxgi;
    lenticor::win32::Win32DisplayDevices displayDevices;
    lenticor::win32::Win32Registry registry;
    lenticor::win32::Win32DisplayConfig displayConfig;
    lenticor::win32::Win32Monitors monitors;
    lenticor::win32::Win32ConfigManager configManager;
    lenticor::win32::Win32WindowSystem windows;
    lenticor::win32::Win32Files files;
    lenticor::win32::Win32Crypto crypto;
    lenticor::win32::Win32VideoInputDevices videoInputs;
    lenticor::win32::Win32Environment environment;
    lenticor::win32::Win32MonitorConfiguration monitorConfiguration;
    lenticor::win32::Win32StandardInput standardInput;
    lenticor::win32::Win32SteadyClock steadyClock;
    lenticor::win32::Win32ModuleLoader modules;
    lenticor::win32::Win32Processes processes;
    lenticor::Platform platform{.console = console,
                                .clock = clock,
                                .dxgi = dxgi,
                                .displayDevices = displayDevices,
                                .registry = registry,
                                .displayConfig = displayConfig,
                                .monitors = monitors,
                                .configManager = configManager,
                                .windows = windows,
                                .files = files,
                                .crypto = crypto,
                                .videoInputs = videoInputs,
                                .environment = environment,
                                .monitorConfiguration = monitorConfiguration,
                                .standardInput = standardInput,
                                .steadyClock = steadyClock,
                                .modules = modules,
                                .processes = processes};
    return lenticor::RunCommandLine(argc, argv, platform, lenticor::BuildCommandTable());
}
