#pragma once
// What both lenticor-sim entry points do around the host ports they choose:
// where the simulated drives live, one command line over the machine, and
// the run's changes written back to the machine file.

#include "platform/sim/machine_file.h"
#include "platform/sim/sim_host.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>

namespace lenticor::sim {

// A machine file that cannot be used ends the run before any command.
inline constexpr int kExitMachineUnusable = 3;

// The embedded machine is fresh on every run, and so are its drives: a private
// folder under the temporary folder that disappears with the process.
class ScratchFolder {
  public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The folder "drives" beside the machine file, so every run on one machine
// sees the same files wherever it is started from; for the embedded machine
// one inside `scratch`, which this creates.
[[nodiscard]] std::filesystem::path SimDrivesFolder(const MachineSource& source,
                                                    std::optional<ScratchFolder>& scratch);

// Makes every successful SaveSettings of the machine's NVIDIA driver commit
// the driver's store to the machine file at once. Throws from SaveSettings
// what CommitMachineChanges throws.
void CommitNvidiaAtEverySave(MachineSource& source);

// Runs the command line on the machine with the host's ports, lets the
// monitors finish what they were doing, and commits the areas the run
// changed; only then does the command's standard output appear. Throws what
// CommitMachineChanges throws, with nothing written to standard output.
//
// When the machine file's stop switch fires, `stopHost` does to the host's
// ports what the stop does to a PC (closing the handles of a killed process,
// or a power loss on the drives), the machine keeps what that PC keeps, and
// the process ends with exit code 1 and nothing on standard output.
[[nodiscard]] int RunOnSimulatedMachine(int argc, const wchar_t* const* argv, MachineSource& source,
                                        HostPorts host,
                                        const std::function<void(SimStopKind)>& stopHost = nullptr);

// The line on standard error and the exit code for a machine or its drives
// that cannot be used (MachineError or a filesystem_error).
[[nodiscard]] int ReportUnusableMachine(const std::exception& error);

}  // namespace lenticor::sim
