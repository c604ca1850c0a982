// lenticor-sim entry point: the one place that chooses the simulated ports.

#include "app/dispatcher.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/sim_ports.h"

#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
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
        lenticor::sim::SimPorts ports(source.machine);
        lenticor::StandardConsole console;
        lenticor::SystemClock clock;
        auto platform = ports.MakePlatform(console, clock);
        const int code = lenticor::RunCommandLine(static_cast<int>(storage.size()),
                                                  argv == nullptr ? nullptr : wideArgv.data(),
                                                  platform, lenticor::BuildCommandTable());
        if (source.machine.desktop.changed) {
            lenticor::sim::StoreSimDesktop(source.machine, source.document);
            source.changed = true;
        }
        lenticor::sim::SaveIfChanged(source);
        return code;
    } catch (const lenticor::sim::MachineError& error) {
        std::cerr << "lenticor-sim: " << error.what() << std::endl;
        return kExitMachineUnusable;
    }
}
