#pragma once
// What the simulated machine adds for the desktop commands: the monitors of
// the desktop, the device tree behind each monitor, a throwaway window for
// the display-off request, SetDisplayConfig, and fault switches for what can
// happen to a desktop between two calls. Described under "desktop" in
// docs/simulated-machine.md.

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/config_manager.h"
#include "platform/display_config_types.h"
#include "platform/monitors.h"
#include "platform/native_codes.h"
#include "platform/window_system.h"

namespace lenticor::sim {

struct SimMachine;
struct SimOutput;

struct SimDesktopFaults {
    // The next so many QueryDisplayConfig calls of a run find that the
    // desktop changed since it was sized (ERROR_INSUFFICIENT_BUFFER).
    std::uint32_t queryChanges = 0;
    // Every QueryDisplayConfig takes this long: a slow command holds the
    // journal lock long enough for another to collide with it.
    std::uint32_t queryDelayMs = 0;
    // GDI device name of the output whose monitor name cannot be read.
    std::optional<std::wstring> unreadableTargetName;
    std::optional<Win32Error> validate;  // SetDisplayConfig with SDC_VALIDATE
    std::optional<Win32Error> apply;     // SetDisplayConfig with SDC_APPLY
    // SDC_APPLY reports success and changes nothing.
    bool applyIgnored = false;
    // SDC_APPLY that takes a display off the desktop closes the space it
    // leaves: GDI rearranges source surfaces its own way.
    bool rearrangeOnApply = false;
    // GDI device name of the output whose device node reports another driver key.
    std::optional<std::wstring> driverKeyMismatch;
    // The monitor of `output` is unplugged once the run has made `afterQueries`
    // successful QueryDisplayConfig calls, before the next one answers.
    struct Unplug {
        std::wstring output;
        std::uint32_t afterQueries = 0;
    };
    std::optional<Unplug> unplug;
    std::optional<Win32Error> registerClass;  // RegisterClassW
    std::optional<Win32Error> createWindow;   // CreateWindowExW
};

// One display of the layout Windows keeps in its display database and sets
// up at boot.
struct SimPersistedDisplay {
    std::wstring output;  // GDI device name
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t refreshRate = 0;
    std::uint32_t bitsPerPixel = 32;
};

struct SimDesktop {
    SimDesktopFaults faults;
    // What SetDisplayConfig with SDC_SAVE_TO_DATABASE last stored; absent
    // from the file: the layout the machine was described with.
    std::vector<SimPersistedDisplay> database;
    bool databaseChanged = false;
    bool restarted = false;                 // this run began with a restart
    std::uint32_t displaysOffRequests = 0;  // SC_MONITORPOWER off messages received
    // Per run, not stored.
    std::uint32_t changesReported = 0;
    std::uint32_t successfulQueries = 0;
    bool changed = false;  // the display configuration or power record changed
};

// Reads the "desktop" member (absent: no faults, nothing recorded); the
// display database defaults to the active outputs of `machine`. Throws
// MachineError naming the place.
[[nodiscard]] SimDesktop ParseSimDesktop(const nlohmann::json* desktop, const SimMachine& machine);

// Restarts the PC before the run: every adapter gets a new LUID and the
// desktop becomes the layout of the display database, less displays whose
// monitor is unplugged.
void RestartSimMachine(SimMachine& machine);

// Writes what a run changed back into the machine description: each output's
// activity, position and mode, unplugged monitors, the power record, the
// display database and, after a restart, the adapters' LUIDs.
void StoreSimDesktop(const SimMachine& machine, nlohmann::json& document);

// Hooks the display configuration calls. Before a query: an error to report
// instead, or nullopt. After a successful query: the unplug fault's clock.
[[nodiscard]] std::optional<Win32Error> SimBeforeQuery(SimMachine& machine);
void SimAfterQuery(SimMachine& machine);
[[nodiscard]] bool SimTargetNameUnreadable(const SimMachine& machine, nimbo::dcfg::LUID adapterId,
                                           std::uint32_t targetId);

// SetDisplayConfig with SDC_USE_SUPPLIED_DISPLAY_CONFIG and SDC_VALIDATE or
// SDC_APPLY: checks the supplied paths against the machine and, when applying,
// makes exactly their targets active at their positions and modes.
[[nodiscard]] Win32Error SimSetDisplayConfig(
    SimMachine& machine, std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
    std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes, std::uint32_t flags);

// The HMONITOR of an output, and the active output an HMONITOR still names
// (null when it left the desktop or re-enumerated since); `adapter` and
// `output` receive its indexes when given.
[[nodiscard]] MonitorHandle SimMonitorHandle(const SimMachine& machine, std::size_t adapter,
                                             std::size_t output);
SimOutput* SimOutputOfMonitor(SimMachine& machine, MonitorHandle monitor,
                              std::size_t* adapter = nullptr, std::size_t* output = nullptr);

// One HMONITOR per active output.
class SimMonitors final : public Monitors {
  public:
    explicit SimMonitors(SimMachine& machine) : machine_(machine) {}
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override;
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override;

  private:
    SimMachine& machine_;
};

// Interface path -> DISPLAY\<model>\<instance> -> driver key, for every
// monitor that is plugged in.
class SimConfigManager final : public ConfigManager {
  public:
    explicit SimConfigManager(SimMachine& machine) : machine_(machine) {}
    ConfigRet GetDeviceInterfaceProperty(std::wstring_view interfacePath, DeviceProperty key,
                                         std::uint32_t& type, std::span<std::uint8_t> buffer,
                                         std::uint32_t& size) override;
    ConfigRet LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                            std::uint32_t flags) override;
    ConfigRet GetDevNodeProperty(DevInst devInst, DeviceProperty key, std::uint32_t& type,
                                 std::span<std::uint8_t> buffer, std::uint32_t& size) override;
    // USB devices; the simulation lists no other enumerator's devices.
    ConfigRet GetDeviceIdListSize(std::uint32_t& size, std::wstring_view filter,
                                  std::uint32_t flags) override;
    ConfigRet GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer,
                              std::uint32_t flags) override;

  private:
    [[nodiscard]] std::vector<wchar_t> DeviceIdList(std::wstring_view filter,
                                                    std::uint32_t flags) const;

    SimMachine& machine_;
    std::uint32_t listChanges_ = 0;  // growths reported of faults.deviceIdListChanges
};

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
