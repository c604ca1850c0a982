#pragma once
// The bundle of ports a command receives. wmain (real Windows) and
// lenticor-sim's main (the simulated machine) are the only places that choose
// the implementations; everything below them sees only these interfaces.
//
// Each port is a small interface mirroring the Windows calls one area of the
// program makes, in portable types. Add a port here when a subsystem needs a
// new Windows area, then implement it in platform/win32 and platform/sim.

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

}  // namespace lenticor
