#pragma once
// What the simulated machine adds for the DDC/CI commands: the physical
// monitors behind each HMONITOR, the monitors' VCP features and power
// behaviour, the simulated time that every bus transaction is charged to and
// the run's transaction log. The ports over it are SimSteadyClock and
// SimMonitorConfiguration.
// Described in docs/simulated-ddc.md.

#include "platform/native_codes.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lenticor::sim {

class Reader;
struct SimMachine;
struct SimMonitor;
struct SimOutput;

struct SimVcpFeature {
    std::uint32_t current = 0;
    std::uint32_t maximum = 0;
};

// A fault that passes: the next `times` calls of one kind that reach the
// monitor fail with `error`, or (reads only, without an error) answer a
// glitched current value or maximum; after that the monitor answers normally.
struct SimDdcFlaky {
    std::uint32_t times = 0;  // left; written back, so it carries over runs
    std::optional<std::uint32_t> error;
    std::optional<std::uint32_t> current;
    std::optional<std::uint32_t> maximum;
};

// A monitor that answers DDC/CI (the "ddc" member of a monitor).
struct SimDdcMonitor {
    std::uint32_t physicalMonitors = 1;  // behind the monitor's HMONITOR
    bool noDdc = false;                  // DDC/CI switched off: nothing answers
    std::string capabilities;            // the MCCS capabilities string, ASCII
    std::optional<std::uint32_t> capabilitiesLengthFails;
    std::optional<std::uint32_t> capabilitiesRequestFails;
    std::map<std::uint8_t, SimVcpFeature> vcp;
    std::optional<std::uint32_t> readFailsAll;
    std::map<std::uint8_t, std::uint32_t> readFails;
    std::optional<std::uint32_t> writeFailsAll;
    std::map<std::uint8_t, std::uint32_t> writeFails;
    std::uint32_t wakeMs = 0;      // standby -> on takes this long after the write
    std::uint32_t offDelayMs = 0;  // on -> standby/off takes this long
    bool ignoresFirstWrite = false;
    bool reenumeratesOnWake = false;
    // Off the desktop this long between leaving and arriving again when it
    // re-enumerates on waking. Not measured: a guess at how long Windows takes
    // over the removal and the new arrival (EDID read, mode set).
    std::uint32_t reenumerationGapMs = 2000;
    bool deepStandby = false;                         // asleep, it answers nothing but D6
    std::map<std::uint8_t, SimDdcFlaky> flakyReads;   // by VCP code
    std::map<std::uint8_t, SimDdcFlaky> flakyWrites;  // by VCP code
    std::optional<SimDdcFlaky> flakyCapabilities;     // the capabilities request
    // A brightness (VCP 10) write is accepted, and this long after it the
    // monitor puts its own value back; 0 drops the write at once.
    std::optional<std::uint32_t> brightnessRevertMs;
    // Off (D6 = 4 or 5), it answers nothing at all, not even D6, until its
    // power button is pressed.
    bool deafWhenOff = false;
    // A slow capabilities reply, in place of the per-fragment minimum.
    std::optional<std::uint32_t> capabilitiesMs;
    // Slow firmware or a dock: every transaction takes this share of its time.
    std::uint32_t costPercent = 100;
    // This long after a D6 value 2..5 takes effect the monitor drops its
    // hot-plug signal and leaves the desktop, as DisplayPort monitors do.
    std::optional<std::uint32_t> hotPlugDropMs;

    // Per run: a D6 change the monitor is still carrying out.
    struct Transition {
        std::uint32_t value = 0;
        std::int64_t due = 0;  // simulated nanoseconds
        bool reenumerate = false;
        bool returns = false;  // arrives on the desktop again after re-enumerating
        bool dropsHotPlug = false;
    };
    std::optional<Transition> transition;
    bool firstWriteIgnored = false;
    // Per run: the brightness the monitor will put back, and when.
    struct BrightnessRevert {
        std::uint32_t value = 0;
        std::int64_t due = 0;  // simulated nanoseconds
    };
    std::optional<BrightnessRevert> brightnessRevert;
};

// One call of a bus function, as recorded in the machine file's "ddcLog".
struct SimDdcTransaction {
    std::int64_t at = 0;    // simulated nanoseconds since the run started
    std::int64_t cost = 0;  // nanoseconds charged to the clock
    std::wstring display;   // GDI device name of the monitor's output
    std::string operation;  // the dxva2 function's name
    std::optional<std::uint8_t> code;
    std::optional<std::uint32_t> value;    // read, written, or the length
    std::optional<std::uint32_t> maximum;  // a successful VCP read's maximum
    std::optional<Win32Error> error;       // GetLastError of a failed call
};

// The bus state of one run.
struct SimDdcBus {
    // A steady clock never starts at zero on a running PC; an arbitrary uptime
    // keeps "no time recorded yet" distinguishable from "at the start".
    static constexpr std::int64_t kRunStart = 1'000'000'000'000;
    static constexpr std::int64_t kMillisecond = 1'000'000;
    std::int64_t now = kRunStart;
    std::vector<SimDdcTransaction> log;
    bool documentHasLog = false;  // the loaded file holds a non-empty ddcLog
    bool changed = false;         // a VCP value or a last-arrival time changed
    // Sleeps and transactions also take their time on the real steady clock,
    // measured from when the machine was loaded, so another process can act
    // in the middle of one.
    bool realTime = false;
    std::chrono::steady_clock::time_point realStart;
};

// The "ddc" member of a monitor. Throws MachineError naming the place.
[[nodiscard]] SimDdcMonitor ReadSimDdcMonitor(const Reader& reader);

// The top-level "ddcLog" member of a loaded file: only its shape is checked.
void ReadSimDdcLog(const Reader& reader, SimMachine& machine);

// Carries out every transition whose time has come (and, with `everything`,
// the rest too: between two runs the monitors finish what they were doing).
void SettleSimDdc(SimMachine& machine, bool everything = false);

// Whether the machine file must be written for the DDC/CI side of the run.
[[nodiscard]] bool SimDdcNeedsSaving(const SimMachine& machine);

// Writes VCP values, last-arrival times and the run's transaction log back.
void StoreSimDdc(const SimMachine& machine, nlohmann::json& document);

// The monitors a source drives: its own, then those of its clone targets.
[[nodiscard]] std::size_t SimSourceMonitorCount(const SimOutput& output);
[[nodiscard]] SimMonitor& SimSourceMonitor(SimOutput& output, std::size_t index);

// The error a bus transaction with this monitor ends in before the command
// itself is looked at, or 0. `code` is the VCP code of a VCP call.
[[nodiscard]] std::uint32_t SimDdcBusError(const SimMonitor& monitor,
                                           std::optional<std::uint8_t> code);

// A Set VCP Feature as the monitor carries it out.
void WriteSimVcp(SimMachine& machine, SimOutput& output, SimMonitor& monitor, std::uint8_t code,
                 std::uint32_t value);

}  // namespace lenticor::sim
