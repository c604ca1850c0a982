#pragma once
// --nimbo-display-power on the ports: the engine's operations bound to the
// monitor configuration API, the steady clock and a cancel line on a piped
// standard input.

#include "app/dispatcher.h"
#include "ddc/power_engine.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace lenticor {
class MonitorConfiguration;
class StandardInput;
class SteadyClock;
}  // namespace lenticor

namespace nimbo {

// Watches standard input for the line "cancel" from the host without ever
// blocking: only what PeekNamedPipe reports is read. Exactly "cancel" followed
// by a line feed counts; once seen it stays.
class StdinCancelWatcher {
  public:
    // `pipe` null: there is nothing to watch and the watcher never cancels.
    explicit StdinCancelWatcher(lenticor::StandardInput* pipe) : pipe_(pipe) {}
    [[nodiscard]] bool Poll();

  private:
    lenticor::StandardInput* pipe_;
    std::string line_;  // at most six characters: longer lines cannot be "cancel"
    bool discarding_ = false;
    bool cancelled_ = false;
};

// Sleeps `duration` in slices of at most 10 ms, polling `cancel` after each,
// so a cancel ends the wait within one slice.
void SleepUnlessCancelled(lenticor::SteadyClock& clock, std::chrono::milliseconds duration,
                          const CancelPoll& cancel);

// VCP D6 on one physical monitor. A failure sets lastDdcNativeError and
// writes one "[NimboPower] ..." line on `err`.
[[nodiscard]] DisplayPowerState ReadD6PowerState(lenticor::MonitorConfiguration& api,
                                                 lenticor::PhysicalMonitorHandle monitor,
                                                 std::ostream& err);
[[nodiscard]] bool WriteD6PowerValue(lenticor::MonitorConfiguration& api,
                                     lenticor::PhysicalMonitorHandle monitor, std::uint32_t value,
                                     std::ostream& err);

class NimboDisplayPowerCommand {
  public:
    // Builds the operations over `platform` and runs the engine; the result
    // line goes to the console.
    [[nodiscard]] static int Execute(lenticor::Platform& platform,
                                     const DisplayPowerRequest& request);
    // The engine itself, on any operations; the result line goes to `out`.
    [[nodiscard]] static int Execute(const DisplayPowerRequest& request, const DisplayPowerIo& io,
                                     std::ostream& out);
};

// The "--nimbo-display-power" entry of the command table.
[[nodiscard]] lenticor::Command MakeDisplayPowerCommand();

}  // namespace nimbo
