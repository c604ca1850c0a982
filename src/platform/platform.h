#pragma once
// The bundle of ports a command receives. wmain (real Windows) and
// lenticor-sim's main (the simulated machine) are the only places that choose
// the implementations; everything below them sees only these interfaces.
//
// Each port is a small interface mirroring the Windows calls one area of the
// program makes, in portable types. Add a port here when a subsystem needs a
// new Windows area, then implement it in platform/win32 and platform/sim.

#include <memory>

namespace lenticor {

class Clock;
class ConfigManager;
class Console;
class Crypto;
class DisplayConfig;
class DisplayDevices;
class Dxgi;
class Environment;
class Files;
class ModuleLoader;
class MonitorConfiguration;
class Monitors;
class Processes;
class Registry;
class StandardInput;
class SteadyClock;
class VideoInputDevices;
class WindowSystem;

struct Platform {
    Console& console;
    const Clock& clock;
    Dxgi& dxgi;
    DisplayDevices& displayDevices;
    Registry& registry;
    DisplayConfig& displayConfig;
    Monitors& monitors;
    ConfigManager& configManager;
    WindowSystem& windows;
    Files& files;
    Crypto& crypto;
    VideoInputDevices& videoInputs;
    Environment& environment;
    MonitorConfiguration& monitorConfiguration;
    StandardInput& standardInput;
    SteadyClock& steadyClock;
    ModuleLoader& modules;
    Processes& processes;
};

// The ports a run takes from the computer it runs on, whether the rest is the
// real Windows or the simulated machine: files, cryptography, the process
// environment and standard input.
struct HostPorts {
    Files& files;
    Crypto& crypto;
    Environment& environment;
    StandardInput& standardInput;
};

namespace platform_detail {
template <class Port>
Port& PortOf(Port& port) {
    return port;
}
template <class Port>
Port& PortOf(std::unique_ptr<Port>& owner) {
    return *owner;
}
}  // namespace platform_detail

// The one composition of the bundle, for every entry point: `areas` has a
// member for each port that `host`, `console` and `clock` do not give, named
// as in Platform, that is the port itself or owns it.
template <class Areas>
[[nodiscard]] Platform ComposePlatform(Console& console, const Clock& clock, Areas& areas,
                                       HostPorts host) {
    using platform_detail::PortOf;
    return Platform{.console = console,
                    .clock = clock,
                    .dxgi = PortOf(areas.dxgi),
                    .displayDevices = PortOf(areas.displayDevices),
                    .registry = PortOf(areas.registry),
                    .displayConfig = PortOf(areas.displayConfig),
                    .monitors = PortOf(areas.monitors),
                    .configManager = PortOf(areas.configManager),
                    .windows = PortOf(areas.windows),
                    .files = host.files,
                    .crypto = host.crypto,
                    .videoInputs = PortOf(areas.videoInputs),
                    .environment = host.environment,
                    .monitorConfiguration = PortOf(areas.monitorConfiguration),
                    .standardInput = host.standardInput,
                    .steadyClock = PortOf(areas.steadyClock),
                    .modules = PortOf(areas.modules),
                    .processes = PortOf(areas.processes)};
}

}  // namespace lenticor
