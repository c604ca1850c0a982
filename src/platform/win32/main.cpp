// lenticor.exe entry point: the one place that chooses the real Windows ports.

#include "app/dispatcher.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "win32_ports.h"

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

namespace {

// The real adapters of every port the host does not give, each under the
// name Platform gives it.
struct Win32Areas {
    std::unique_ptr<lenticor::Dxgi> dxgi = lenticor::win32::MakeWin32Dxgi();
    std::unique_ptr<lenticor::DisplayDevices> displayDevices =
        lenticor::win32::MakeWin32DisplayDevices();
    std::unique_ptr<lenticor::Registry> registry = lenticor::win32::MakeWin32Registry();
    std::unique_ptr<lenticor::DisplayConfig> displayConfig =
        lenticor::win32::MakeWin32DisplayConfig();
    std::unique_ptr<lenticor::Monitors> monitors = lenticor::win32::MakeWin32Monitors();
    std::unique_ptr<lenticor::ConfigManager> configManager =
        lenticor::win32::MakeWin32ConfigManager();
    std::unique_ptr<lenticor::WindowSystem> windows = lenticor::win32::MakeWin32WindowSystem();
    std::unique_ptr<lenticor::VideoInputDevices> videoInputs =
        lenticor::win32::MakeWin32VideoInputDevices();
    std::unique_ptr<lenticor::MonitorConfiguration> monitorConfiguration =
        lenticor::win32::MakeWin32MonitorConfiguration();
    std::unique_ptr<lenticor::SteadyClock> steadyClock = lenticor::win32::MakeWin32SteadyClock();
    std::unique_ptr<lenticor::ModuleLoader> modules = lenticor::win32::MakeWin32ModuleLoader();
    std::unique_ptr<lenticor::Processes> processes = lenticor::win32::MakeWin32Processes();
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // No process-wide state is touched before dispatch: no console code page,
    // no stream translation mode, no COM, no DPI awareness call.
    lenticor::StandardConsole console;
    lenticor::SystemClock clock;
    Win32Areas areas;
    lenticor::win32::Win32Host host;
    auto platform = lenticor::ComposePlatform(console, clock, areas, host.Ports());
    return lenticor::RunCommandLine(argc, argv, platform, lenticor::BuildCommandTable());
}
