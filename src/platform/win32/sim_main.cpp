// lenticor-sim.exe entry point: the one place that chooses its ports.
// Everything the machine file describes is simulated (SimPorts). Files and
// cryptography are this PC's own (Win32Files, Win32Crypto), so journals,
// locks, archives and undo files are real files that behave as under
// lenticor.exe; standard input and the environment are the process's own,
// except ProgramData, which names the simulated machine's folder
// drives\c\ProgramData beside the machine file.

#include "app/text.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/machine_lock.h"
#include "platform/sim/sim_host.h"
#include "platform/sim/sim_run.h"
#include "win32_ddc_ports.h"
#include "win32_journal_ports.h"
#include "win32_readiness_ports.h"
#include "windows_api.h"

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

namespace {

// The undo store takes ProgramData only when it is shorter than MAX_PATH and
// otherwise falls back to C:\ProgramData, the real machine-wide folder: a
// simulated folder that long must stop the run instead.
constexpr std::size_t kMaxProgramDataLength = lenticor::kProgramDataBufferLength - 1;

// The simulated machine's ProgramData as the undo store will see it: full,
// and with long names, so the final path of a file in it (which Windows always
// reports with long names) starts with it.
std::wstring PrepareProgramData(const std::filesystem::path& drives) {
    const auto folder = drives / L"c" / L"ProgramData";
    std::filesystem::create_directories(folder);
    std::wstring text = folder.wstring();
    const DWORD needed = ::GetLongPathNameW(text.c_str(), nullptr, 0);
    if (needed != 0) {
        std::wstring longName(needed, L'\0');
        const DWORD length = ::GetLongPathNameW(text.c_str(), longName.data(), needed);
        if (length != 0 && length < needed) {
            longName.resize(length);
            text = std::move(longName);
        }
    }
    if (lenticor::Utf16Length(text) > kMaxProgramDataLength) {
        throw lenticor::sim::MachineError(
            "the simulated ProgramData folder " + lenticor::sim::PathText(folder) +
            " is longer than 259 characters; keep the machine file in a shorter folder");
    }
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::optional<std::filesystem::path> machineFile;
    if (const DWORD needed = ::GetEnvironmentVariableW(L"LENTICOR_SIM_MACHINE", nullptr, 0);
        needed != 0) {
        std::wstring named(needed, L'\0');
        const DWORD length =
            ::GetEnvironmentVariableW(L"LENTICOR_SIM_MACHINE", named.data(), needed);
        if (length != 0 && length < needed) {
            named.resize(length);
            machineFile = named;
        }
    }
    try {
        auto source = lenticor::sim::LoadMachine(machineFile);
        if (source.document.contains("fileSystem")) {
            std::cerr << "lenticor-sim: the machine file's \"fileSystem\" links are not made: "
                         "files are this PC's own"
                      << std::endl;
        }
        std::optional<lenticor::sim::ScratchFolder> scratch;
        const auto programData =
            PrepareProgramData(lenticor::sim::SimDrivesFolder(source, scratch));
        lenticor::win32::Win32Files files;
        lenticor::win32::Win32Crypto crypto;
        lenticor::win32::Win32Environment inherited;
        lenticor::sim::SimulatedProgramData environment(inherited, programData);
        lenticor::win32::Win32StandardInput standardInput;
        return lenticor::sim::RunOnSimulatedMachine(
            argc, argv, source,
            lenticor::sim::SimHostPorts{files, crypto, environment, standardInput});
    } catch (const lenticor::sim::MachineError& error) {
        return lenticor::sim::ReportUnusableMachine(error);
    } catch (const std::filesystem::filesystem_error& error) {
        return lenticor::sim::ReportUnusableMachine(error);
    }
}
