#pragma once
// The simulated PC behind lenticor-sim: one description of adapters, outputs,
// monitors and registry, from which every port view is derived so that the
// views agree the way they do on a real machine. The file format is described
// in docs/simulated-machine.md.

#include "platform/display_config_types.h"
#include "platform/native_codes.h"
#include "platform/sim/nvidia_driver_store.h"
#include "platform/sim/sim_ddc.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_file_scanner.h"
#include "platform/sim/sim_foreground.h"
#include "platform/sim/sim_port_calls.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lenticor::sim {

class Reader;

// A machine description that cannot be used. what() names the place in the
// document as a JSON pointer and the problem, e.g.
//   "/adapters/0/outputs/1/mode/width: expected an unsigned integer"
class MachineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct SimMode {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t refreshRate = 0;
    std::uint32_t bitsPerPixel = 32;
};

struct SimMonitor {
    std::wstring hardwareId;     // MONITOR\<model>\<driver key>
    std::wstring deviceString;   // "Generic PnP Monitor", or the monitor driver's name
    std::wstring instanceId;     // the instance subkey under Enum\DISPLAY\<model>
    std::wstring interfacePath;  // \\?\DISPLAY#<model>#<instance>#{e6f07b5f-...}
    std::optional<std::vector<std::uint8_t>> edid;  // none: no EDID value in the registry
    std::uint64_t lastArrival = 0;                  // DEVPKEY_Device_LastArrivalDate, FILETIME
    bool lastArrivalChanged = false;                // replugged in this run
    std::optional<SimDdcMonitor> ddc;               // none: the monitor has no DDC/CI
    bool powerButton = false;  // the user presses its power button before this run
};

struct SimOutputFaults {
    std::optional<HResult> getDesc;    // IDXGIOutput::GetDesc
    bool enumDisplaySettings = false;  // EnumDisplaySettingsW returns FALSE
};

// How the output's driver answers a mode change.
struct SimModeChange {
    std::optional<std::int32_t> refuse;  // DISP_CHANGE_* returned when storing the mode
    std::optional<SimMode> endsIn;       // accepted, but the driver ends in this mode
};

// The display scale of the output's source, in steps around the monitor's
// recommended scale.
struct SimDpi {
    std::int32_t min = 0;
    std::int32_t current = 0;
    std::int32_t max = 4;
    std::optional<Win32Error> getFails;
    std::optional<Win32Error> setFails;
    bool setIgnored = false;  // a set is accepted but changes nothing
    // Once a set succeeded in this run, every get returns this.
    std::optional<Win32Error> readBackFails;
    bool setThisRun = false;
    bool described = false;  // the file has a "dpi" member
};

// A further target that the output's source drives in duplicate mode: it
// shows the same desktop rectangle and mode through the one source.
struct SimCloneTarget {
    std::uint32_t targetId = 0;
    std::uint32_t outputTechnology = 10;
    SimMonitor monitor;
};

struct SimOutput {
    std::wstring deviceName;  // GDI source name, \\.\DISPLAYn
    std::uint32_t sourceId = 0;
    std::uint32_t targetId = 0;
    std::uint32_t outputTechnology = 0;  // DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY
    bool active = true;                  // part of the desktop
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t orientation = 0;  // DMDO_DEFAULT 0 .. DMDO_270 3
    SimMode mode;
    std::vector<SimMode> modes;  // what EnumDisplaySettingsW lists by index
    std::optional<SimMonitor> monitor;
    // A monitor on the connector that holds its hot-plug signal low (asleep):
    // Windows sees an empty connector, the machine file keeps the monitor.
    std::optional<SimMonitor> asleepUnplugged;
    std::vector<SimCloneTarget> clones;  // only beside a monitor of its own
    SimOutputFaults faults;
    SimModeChange modeChange;
    SimDpi dpi;
    // Per run: how often the monitor re-enumerated; part of its HMONITOR, so
    // a handle from before a re-enumeration is no longer valid.
    std::uint32_t monitorGeneration = 0;
};

struct SimAdapterFaults {
    std::optional<HResult> getDesc1;
    std::optional<HResult> enumOutputs;
};

struct SimAdapter {
    std::wstring description;   // DXGI description
    std::wstring deviceString;  // EnumDisplayDevicesW DeviceString (the driver's name)
    std::wstring pnpId;         // EnumDisplayDevicesW DeviceID of the adapter
    nimbo::dcfg::LUID luid{};
    std::uint32_t vendorId = 0;
    std::uint32_t deviceId = 0;
    std::uint32_t flags = 0;  // DXGI_ADAPTER_FLAG_*
    std::vector<SimOutput> outputs;
    SimAdapterFaults faults;
};

struct SimRegistryValue {
    std::uint32_t type = 0;  // REG_*
    std::vector<std::uint8_t> data;
};

struct SimRegistryKey {
    std::wstring path;                                // as first spelled, without the hive
    std::map<std::wstring, SimRegistryValue> values;  // by lower-cased name
};

// A per-user value as a RegFlushKey of its key found it; none: deleted.
struct SimFlushedValue {
    std::wstring keyPath;
    std::wstring valueName;
    std::optional<SimRegistryValue> value;
};

enum class SimHive { LocalMachine, CurrentUser };

// Machine-wide fault switches: the call returns the code every time.
struct SimFaults {
    std::optional<HResult> createDxgiFactory1;
    std::optional<Win32Error> getDisplayConfigBufferSizes;
    std::optional<Win32Error> queryDisplayConfig;
    std::optional<Win32Error> displayConfigGetDeviceInfo;
    std::optional<HResult> coInitializeEx;
    std::optional<HResult> coCreateInstance;
    std::optional<Win32Error> regFlushKey;
    // The first so many CM_Get_Device_ID_ListW calls find a device more than
    // was sized: one arrived in between.
    std::uint32_t deviceIdListChanges = 0;
};

// A DirectShow property: absent (IPropertyBag::Read fails), a null BSTR, or
// a text.
struct SimProperty {
    bool present = false;
    std::optional<std::wstring> text;
};

// One video-input device, in the category's enumeration order.
struct SimCamera {
    SimProperty friendlyName;
    SimProperty devicePath;
    std::optional<HResult> bindToStorage;  // IMoniker::BindToStorage fails
    bool bindsWithoutBag = false;          // ... or succeeds without a property bag
};

// A USB device as the configuration manager knows it.
struct SimUsbDevice {
    std::wstring instanceId;
    std::optional<std::wstring> location;  // none: no location information
    bool present = true;                   // false: unplugged, still known to Windows
};

struct SimMachine {
    std::vector<SimAdapter> adapters;
    std::optional<std::uint32_t> topologyId;  // none: derived from the active outputs
    SimFaults faults;
    // Every registry key, derived and explicit, by hive and lower-cased path.
    std::map<std::pair<SimHive, std::wstring>, SimRegistryKey> registry;
    SimDesktop desktop;  // the desktop commands' additions (sim_desktop.h)
    std::vector<SimCamera> cameras;
    std::vector<SimUsbDevice> usbDevices;
    bool readinessChanged = false;            // a mode or display scale was changed
    SimDdcBus ddc;                            // the DDC/CI bus and the simulated clock
    std::optional<NvidiaDriverStore> nvidia;  // none: no NVIDIA driver (sim_nvidia.h)
    // HKEY_CURRENT_USER values set or deleted in this run, as (key path, value
    // name) spelled as the caller did, for writing back to the machine file.
    std::vector<std::pair<std::wstring, std::wstring>> userRegistryChanges;
    // Those of them on the disk: what a power loss keeps, in flush order.
    std::vector<SimFlushedValue> userRegistryFlushed;
    // The window in front (sim_foreground.h); none: no window has it.
    std::optional<SimForeground> foreground;
    std::optional<SimFileScanner> scanner;  // none: nothing scans the files
    // The stop switch (sim_port_calls.h): whether the run writes back how
    // many port calls it made, and the call after which the run ends.
    bool countPortCalls = false;
    std::optional<SimStopAfterCall> stopAfterCall;
};

// Adds the key and every key above it (Windows has no dangling subkeys);
// `path` has no hive and no leading backslash.
SimRegistryKey& AddSimRegistryKey(SimMachine& machine, SimHive hive, const std::wstring& path);

// Adds the keys Windows keeps for every monitor it has seen, with the EDID.
void DeriveSimMonitorKeys(SimMachine& machine);

// The machine file's "registry" member: keys under HKLM\ or HKCU\ with
// binary, dword or string values. Throws MachineError naming the place.
void ReadSimRegistry(const Reader& reader, SimMachine& machine);

// The output whose GDI device name is `deviceName` (case-insensitive, as
// Windows compares them), or null.
[[nodiscard]] SimOutput* FindSimOutput(SimMachine& machine, std::wstring_view deviceName);

// Where a display-configuration target is: the adapter with LUID `adapterId`
// and its output whose own target is `targetId` (clone targets are not
// searched).
struct SimTargetPlace {
    std::size_t adapter = 0;
    std::size_t output = 0;
    bool found = false;
};
[[nodiscard]] SimTargetPlace FindSimTarget(const SimMachine& machine, nimbo::dcfg::LUID adapterId,
                                           std::uint32_t targetId);

// The driver key of a monitor: its hardware id after MONITOR\<model>\.
[[nodiscard]] std::wstring SimMonitorDriverKey(const SimMonitor& monitor);

// A REG_SZ value holding `text`.
[[nodiscard]] SimRegistryValue MakeRegistryString(std::wstring_view text);

// Builds the machine from its JSON description; throws MachineError.
[[nodiscard]] SimMachine ParseMachine(const nlohmann::json& document);

// The description used when no machine file is named: a laptop panel
// (primary) and one Nimbo (KZV1A07, "Korvo Nimbo") to its right on the same
// adapter, extended desktop.
[[nodiscard]] const nlohmann::json& DefaultMachineDocument();

// The topology id the display configuration reports: the machine's own, or
// derived: one active output internal or external by its connector, several
// at one rectangle clone, otherwise extend.
[[nodiscard]] std::uint32_t CurrentTopologyId(const SimMachine& machine);

}  // namespace lenticor::sim
