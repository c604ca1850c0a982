#pragma once
// What the simulated machine adds for the desktop commands: the display
// database Windows sets up at boot, the display-off requests received, and
// fault switches for what can happen to a desktop between two calls. The
// ports over it are SimMonitors, SimConfigManager, SimWindowSystem and
// SimDisplayConfig. Described under "desktop" in docs/simulated-machine.md.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/display_config_types.h"
#include "platform/native_codes.h"

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
    bool restarted = false;       // this run began with a restart
    bool displayEvent = false;    // ... or with a hot-plug, wake or driver reset
    bool buttonsPressed = false;  // a monitor's power button was pressed before it
    // A monitor plugged into another connector before the run: where it is
    // now and its description as the machine file is to keep it.
    struct MovedMonitor {
        std::size_t adapter = 0;
        std::size_t output = 0;
        nlohmann::json monitor;
    };
    std::optional<MovedMonitor> moved;
    std::uint32_t displaysOffRequests = 0;  // SC_MONITORPOWER off messages received
    // Per run, not stored.
    std::uint32_t changesReported = 0;
    std::uint32_t successfulQueries = 0;
    bool changed = false;  // the display configuration or power record changed
    // The lock screen, the UAC secure desktop or Ctrl+Alt+Del is up: display
    // changes are refused, queries answer. Set by an edit, never written.
    bool sessionLocked = false;
};

// Reads the "desktop" member (absent: no faults, nothing recorded); the
// display database defaults to the active outputs of `machine`. Throws
// MachineError naming the place.
[[nodiscard]] SimDesktop ParseSimDesktop(const nlohmann::json* desktop, const SimMachine& machine);

// Restarts the PC before the run: every adapter gets a new LUID and the
// desktop becomes the layout of the display database, less displays whose
// monitor is unplugged.
void RestartSimMachine(SimMachine& machine);

// What Windows does on a monitor hot-plug, a wake from sleep or a graphics
// driver reset: the desktop becomes the layout of the display database, less
// displays whose monitor is unplugged.
void ApplySimStoredLayout(SimMachine& machine);

// The output's monitor drops its hot-plug signal: it leaves the desktop and
// the device tree, and Windows rearranges the displays that remain.
void SimDropHotPlug(SimMachine& machine, SimOutput& output);

// Monitors whose power button was pressed before the run wake; one that had
// dropped its hot-plug signal arrives again, and Windows sets up its stored
// layout for the monitors now connected.
void PressSimPowerButtons(SimMachine& machine);

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

// The active outputs as a display-database layout.
[[nodiscard]] std::vector<SimPersistedDisplay> SimActiveLayout(const SimMachine& machine);

}  // namespace lenticor::sim
