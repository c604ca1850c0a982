#pragma once
// The port implementations of the simulated machine. Every view is computed
// from the one SimMachine on each call, so the DXGI outputs, the display-device
// tables, the registry and the display configuration always agree.
//
// Where the simulation is simpler than Windows it says so next to the call.

#include "platform/display_config.h"
#include "platform/display_devices.h"
#include "platform/dxgi.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/sim/sim_ddc.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_foreground.h"
#include "platform/sim/sim_host.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_nvidia.h"
#include "platform/sim/sim_readiness.h"

namespace lenticor::sim {

class SimDxgi final : public Dxgi {
  public:
    explicit SimDxgi(SimMachine& machine) : machine_(machine) {}
    HResult CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) override;

  private:
    SimMachine& machine_;
};

class SimDisplayDevices final : public DisplayDevices {
  public:
    explicit SimDisplayDevices(SimMachine& machine) : machine_(machine) {}
    std::optional<DisplayDevice> EnumDisplayDevices(std::optional<std::wstring_view> device,
                                                    std::uint32_t index,
                                                    std::uint32_t flags) override;
    std::optional<DisplaySettings> EnumDisplaySettings(std::wstring_view deviceName,
                                                       std::uint32_t modeNumber) override;
    // In sim_readiness.cpp.
    std::int32_t ChangeDisplaySettingsEx(std::optional<std::wstring_view> deviceName,
                                         const DisplayModeRequest* mode,
                                         std::uint32_t flags) override;

  private:
    SimMachine& machine_;
};

class SimRegistry final : public Registry {
  public:
    explicit SimRegistry(SimMachine& machine) : machine_(machine) {}
    Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t access,
                       std::unique_ptr<RegistryKey>& key) override;
    // The value calls, in sim_registry_values.cpp.
    Win32Error RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                            std::wstring_view valueName, std::uint32_t flags, std::size_t capacity,
                            std::uint32_t& type, std::vector<std::uint8_t>& data) override;
    Win32Error RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                               std::wstring_view valueName, std::uint32_t type,
                               std::span<const std::uint8_t> data) override;
    Win32Error RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                  std::wstring_view valueName) override;

  private:
    SimMachine& machine_;
};

class SimDisplayConfig final : public DisplayConfig {
  public:
    explicit SimDisplayConfig(SimMachine& machine) : machine_(machine) {}
    Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags, std::uint32_t& pathCount,
                                           std::uint32_t& modeCount) override;
    Win32Error QueryDisplayConfig(std::uint32_t flags,
                                  std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
                                  std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO>& modes,
                                  std::uint32_t* topologyId) override;
    Win32Error GetTargetName(nimbo::dcfg::LUID adapterId, std::uint32_t targetId,
                             DisplayConfigTargetName& name) override;
    Win32Error GetSourceName(nimbo::dcfg::LUID adapterId, std::uint32_t sourceId,
                             DisplayConfigSourceName& name) override;
    Win32Error SetDisplayConfig(std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
                                std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes,
                                std::uint32_t flags) override;
    // The display-scale packets, in sim_readiness.cpp.
    Win32Error GetDpiScale(nimbo::dcfg::DISPLAYCONFIG_GET_DPI_SCALE& packet) override;
    Win32Error SetDpiScale(const nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE& packet) override;

  private:
    SimMachine& machine_;
};

// All ports of one machine, and the Platform bundle over them with the ports
// the entry point takes from its host.
class SimPorts {
  public:
    explicit SimPorts(SimMachine& machine)
        : dxgi(machine),
          displayDevices(machine),
          registry(machine),
          displayConfig(machine),
          monitors(machine),
          configManager(machine),
          windows(machine),
          videoInputs(machine),
          steadyClock(machine),
          monitorConfiguration(machine, steadyClock),
          modules(machine),
          processes(machine) {}
    SimPorts(const SimPorts&) = delete;
    SimPorts& operator=(const SimPorts&) = delete;

    [[nodiscard]] Platform MakePlatform(Console& console, const Clock& clock, SimHostPorts host) {
        return Platform{.console = console,
                        .clock = clock,
                        .dxgi = dxgi,
                        .displayDevices = displayDevices,
                        .registry = registry,
                        .displayConfig = displayConfig,
                        .monitors = monitors,
                        .configManager = configManager,
                        .windows = windows,
                        .files = host.files,
                        .crypto = host.crypto,
                        .videoInputs = videoInputs,
                        .environment = host.environment,
                        .monitorConfiguration = monitorConfiguration,
                        .standardInput = host.standardInput,
                        .steadyClock = steadyClock,
                        .modules = modules,
                        .processes = processes};
    }

    SimDxgi dxgi;
    SimDisplayDevices displayDevices;
    SimRegistry registry;
    SimDisplayConfig displayConfig;
    SimMonitors monitors;
    SimConfigManager configManager;
    SimWindowSystem windows;
    SimVideoInputDevices videoInputs;
    SimSteadyClock steadyClock;
    SimMonitorConfiguration monitorConfiguration;
    SimModuleLoader modules;
    SimProcesses processes;
};

}  // namespace lenticor::sim
