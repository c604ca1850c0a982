// lenticor-sim entry point for Linux: the one place that chooses its ports.
// Everything the machine file describes is simulated (SimPorts); files are
// simulated drives beside the machine file, cryptography is OpenSSL, and the
// environment and standard input are the process's own (PosixHost).

#include "platform/sim/machine_file.h"
#include "platform/sim/posix_host.h"
#include "platform/sim/sim_file_system.h"
#include "platform/sim/sim_run.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <optional>
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
        std::optional<lenticor::sim::ScratchFolder> scratch;
        lenticor::sim::PosixHost host(lenticor::sim::SimDrivesFolder(source, scratch));
        lenticor::sim::ApplySimFileSystem(source, host.files);
        lenticor::sim::AttachSimFileScanner(source, host.files);
        return lenticor::sim::RunOnSimulatedMachine(
            static_cast<int>(storage.size()), argv == nullptr ? nullptr : wideArgv.data(), source,
            host.Ports(), [&host](lenticor::sim::SimStopKind kind) {
                if (kind == lenticor::sim::SimStopKind::Kill) {
                    host.files.CloseAllHandles();
                } else {
                    host.files.LosePower();
                }
            });
    } catch (const lenticor::sim::MachineError& error) {
        return lenticor::sim::ReportUnusableMachine(error);
    } catch (const std::filesystem::filesystem_error& error) {
        return lenticor::sim::ReportUnusableMachine(error);
    }
}
