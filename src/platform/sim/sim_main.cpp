// lenticor-sim entry point: the one place that chooses the simulated ports.

#include "app/dispatcher.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/sim_file_system.h"
#include "platform/sim/sim_nvidia.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim/sim_user_registry.h"

#include <stdlib.h>  // mkdtemp
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

// Linux hands us UTF-8 arguments; the commands take wide strings as wmain does.
std::wstring WidenArgument(const char* argument) {
    std::wstring wide;
    std::mbstate_t state{};
    const char* cursor = argument;
    const char* end = argument + std::char_traits<char>::length(argument);
    while (cursor < end) {
        wchar_t c = 0;
        const auto used = std::mbrtowc(&c, cursor, static_cast<std::size_t>(end - cursor), &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
            // Not UTF-8: keep going with a replacement, as Windows would.
            wide.push_back(L'\xFFFD');
            state = {};
            ++cursor;
            continue;
        }
        wide.push_back(c);
        cursor += used == 0 ? 1 : used;
    }
    return wide;
}

// A machine file that cannot be used ends the run before any command.
constexpr int kExitMachineUnusable = 3;

// The embedded machine is fresh on every run, and so are its drives: a private
// folder that disappears with the process.
class ScratchFolder {
  public:
    ScratchFolder() {
        auto pattern = (std::filesystem::temp_directory_path() / "lenticor-sim-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::filesystem::filesystem_error(
                "cannot create a scratch folder", pattern,
                std::error_code(errno, std::generic_category()));
        }
        path_ = pattern;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace

int main(int argc, char** argv) {
    // Wide streams and towlower need a UTF-8 character type on Linux; Windows
    // has UTF-16 natively.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::vector<std::wstring> storage;
    std::vector<const wchar_t*> wideArgv;
    if (argv != nullptr) {
        for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
            storage.push_back(WidenArgument(argv[i]));
        }
        for (const auto& argument : storage) {
            wideArgv.push_back(argument.c_str());
        }
        wideArgv.push_back(nullptr);
    }
    std::optional<std::filesystem::path> machineFile;
    if (const char* named = std::getenv("LENTICOR_SIM_MACHINE"); named != nullptr) {
        machineFile = named;
    }
    try {
        auto source = lenticor::sim::LoadMachine(machineFile);
        // The simulated drives live beside the machine file, so every run on
        // one machine sees the same files wherever it is started from.
        std::optional<ScratchFolder> scratch;
        std::filesystem::path drives;
        if (source.file) {
            drives = std::filesystem::absolute(*source.file).parent_path() / "drives";
        } else {
            drives = scratch.emplace().path() / "drives";
        }
        lenticor::sim::SimPorts ports(source.machine, drives);
        lenticor::sim::ApplySimFileSystem(source, ports.files);
        lenticor::StandardConsole console;
        lenticor::SystemClock clock;
        auto platform = ports.MakePlatform(console, clock);
        const int code = lenticor::RunCommandLine(static_cast<int>(storage.size()),
                                                  argv == nullptr ? nullptr : wideArgv.data(),
                                                  platform, lenticor::BuildCommandTable());
        // Between two runs the monitors finish what they were doing.
        lenticor::sim::SettleSimDdc(source.machine, true);
        // Only the areas this run changed are written, over whatever other
        // runs wrote meanwhile: a detach beside a brightness change keeps both.
        const auto& machine = source.machine;
        const bool layout = machine.desktop.changed || machine.readinessChanged;
        const bool ddc = lenticor::sim::SimDdcNeedsSaving(machine);
        const bool nvidia = lenticor::sim::SimNvidiaNeedsSaving(machine);
        const bool userRegistry = !machine.userRegistryChanges.empty();
        if (layout || ddc || nvidia || userRegistry) {
            lenticor::sim::CommitMachineChanges(source, [&](nlohmann::json& document) {
                if (layout) {
                    lenticor::sim::StoreSimDesktop(machine, document);
                    lenticor::sim::StoreSimReadiness(machine, document);
                }
                if (ddc) {
                    lenticor::sim::StoreSimDdc(machine, document);
                }
                if (nvidia) {
                    lenticor::sim::StoreSimNvidia(machine, document);
                }
                if (userRegistry) {
                    lenticor::sim::StoreSimUserRegistry(machine, document);
                }
            });
        }
        return code;
    } catch (const lenticor::sim::MachineError& error) {
        std::cerr << "lenticor-sim: " << error.what() << std::endl;
        return kExitMachineUnusable;
    } catch (const std::filesystem::filesystem_error& error) {
        std::cerr << "lenticor-sim: simulated drives unavailable: " << error.what() << std::endl;
        return kExitMachineUnusable;
    }
}
