#include "platform/sim/sim_run.h"

#include "app/dispatcher.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/sim/machine_areas.h"
#include "platform/sim/sim_ports.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace lenticor::sim {
namespace {

// Standard error as it is written; standard output held until the run's
// changes are in the machine file, so that a host never reads a success
// result for a change the machine did not keep.
class HeldOutputConsole final : public Console {
  public:
    HeldOutputConsole() { err_.setf(std::ios_base::unitbuf); }
    std::ostream& Out() override { return out_; }
    std::ostream& Err() override { return err_; }
    void Release() {
        const std::string text = out_.str();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

  private:
    std::ostringstream out_;
    StdioStreamBuf errBuffer_{stderr};
    std::ostream err_{&errBuffer_};
};

}  // namespace

void CommitNvidiaAtEverySave(MachineSource& source) {
    if (!source.machine.nvidia) {
        return;
    }
    // The driver writes its store when the program saves, not when the
    // program ends: a run killed after SaveSettings keeps what it saved.
    source.machine.nvidia->onSave = [&source](const NvidiaDriverStore& store) {
        CommitMachineChanges(
            source, [&](nlohmann::json& document) { document["nvidia"] = store.Document(); });
    };
}

ScratchFolder::ScratchFolder() {
    const auto temporary = std::filesystem::temp_directory_path();
    std::random_device entropy;
    // A name nobody else holds: create_directory says whether this call made it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "lenticor-sim-";
        for (int i = 0; i < 12; ++i) {
            name.push_back("0123456789abcdef"[entropy() % 16]);
        }
        auto candidate = temporary / name;
        if (std::filesystem::create_directory(candidate)) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::filesystem::filesystem_error("cannot create a scratch folder", temporary,
                                            std::make_error_code(std::errc::file_exists));
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path SimDrivesFolder(const MachineSource& source,
                                      std::optional<ScratchFolder>& scratch) {
    if (source.file) {
        return (std::filesystem::absolute(*source.file).parent_path() / "drives")
            .lexically_normal();
    }
    return scratch.emplace().path() / "drives";
}

namespace {

// Writes what the machine keeps of the run: the areas it changed, over
// whatever other runs wrote meanwhile (a detach beside a brightness change
// keeps both), the count of its port calls when asked for, and what a stop
// leaves. A power loss keeps of the run's registry values only those whose
// key was flushed after they were written: Microsoft Learn (RegFlushKey) has
// changes reach the disk through it or the lazy flusher, at no promised time;
// the harsher reading is taken: the lazy flusher never ran. The display
// database is kept and "restart" set, so the next run starts from the layout
// Windows sets up at boot.
void CommitRun(MachineSource& source, const PortCallCounter& counter,
               std::optional<SimStopKind> stop) {
    // Between two runs the monitors finish what they were doing.
    SettleSimDdc(source.machine, true);
    const bool powerLoss = stop == SimStopKind::PowerLoss;
    for (const auto& area : MachineAreas()) {
        if (powerLoss && area.powerLoss != nullptr) {
            area.powerLoss(source.machine);
        }
    }
    const auto& machine = source.machine;
    std::vector<const MachineArea*> changed;
    for (const auto& area : MachineAreas()) {
        if (area.changed != nullptr && area.changed(machine)) {
            changed.push_back(&area);
        }
    }
    if (changed.empty() && !machine.countPortCalls && !stop) {
        return;
    }
    CommitMachineChanges(source, [&](nlohmann::json& document) {
        for (const auto* area : changed) {
            area->write(machine, document);
        }
        if (machine.countPortCalls) {
            document["portCalls"] = counter.calls;
        }
        if (stop) {
            document.erase("stopAfterCall");
        }
        if (powerLoss) {
            document["restart"] = true;
        }
    });
}

}  // namespace

int RunOnSimulatedMachine(int argc, const wchar_t* const* argv, MachineSource& source,
                          HostPorts host, const std::function<void(SimStopKind)>& stopHost) {
    CommitNvidiaAtEverySave(source);
    SimPorts ports(source.machine);
    HeldOutputConsole console;
    SystemClock clock;
    auto platform = ports.MakePlatform(console, clock, host);
    PortCallCounter counter;
    if (const auto& stop = source.machine.stopAfterCall) {
        counter.stopAfter = stop->call;
        counter.stop = [&, kind = stop->as] {
            // As TerminateProcess(process, 1) or a cut cable: what is written
            // stays, nothing more of the run happens, no result line appears.
            int code = 1;
            try {
                if (stopHost) {
                    stopHost(kind);
                }
                CommitRun(source, counter, kind);
            } catch (const std::exception& error) {
                code = ReportUnusableMachine(error);
            }
            std::fflush(stderr);
            std::_Exit(code);
        };
    }
    InstallPortCallCounter(&counter);
    const int code = RunCommandLine(argc, argv, platform, BuildCommandTable());
    InstallPortCallCounter(nullptr);
    CommitRun(source, counter, std::nullopt);
    console.Release();
    return code;
}

int ReportUnusableMachine(const std::exception& error) {
    if (dynamic_cast<const std::filesystem::filesystem_error*>(&error) != nullptr) {
        std::cerr << "lenticor-sim: simulated drives unavailable: " << error.what() << std::endl;
    } else {
        std::cerr << "lenticor-sim: " << error.what() << std::endl;
    }
    return kExitMachineUnusable;
}

}  // namespace lenticor::sim
