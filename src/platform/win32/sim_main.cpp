// lenticor-sim.exe entry point: the one place that chooses its ports.
// Everything the machine file describes is simulated (SimPorts). Files and
// cryptography are this PC's own (Win32Files, Win32Crypto), so journals,
// locks, archives and undo files are real files that behave as under
// lenticor.exe; standard input and the environment are the process's own,
// except ProgramData, which names the simulated machine's folder
// drives\c\ProgramData beside the machine file.

#include "app/sized_query.h"
#include "app/text.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/machine_lock.h"
#include "platform/sim/sim_host.h"
#include "platform/sim/sim_run.h"
#include "win32_ports.h"
#include "windows_api.h"

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

namespace {

// A text Windows hands out in two calls, `call(nullptr, 0)` for its size with
// the terminator and then the text; nullopt when there is none.
template <class Call>
std::optional<std::wstring> SizedText(Call call) {
    std::wstring text;
    DWORD length = 0;
    const auto grew = lenticor::QuerySized(
        true,
        [&] {
            text.assign(call(nullptr, 0), L'\0');
            return !text.empty();
        },
        [&] {
            length = call(text.data(), static_cast<DWORD>(text.size()));
            return length >= text.size();
        });
    if (grew.value_or(true) || length == 0) {
        return std::nullopt;
    }
    text.resize(length);
    return text;
}

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
    if (auto longName = SizedText([&](LPWSTR buffer, DWORD size) {
            return ::GetLongPathNameW(text.c_str(), buffer, size);
        })) {
        text = std::move(*longName);
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
    if (auto named = SizedText([](LPWSTR buffer, DWORD size) {
            return ::GetEnvironmentVariableW(L"LENTICOR_SIM_MACHINE", buffer, size);
        })) {
        machineFile = std::move(*named);
    }
    try {
        auto source = lenticor::sim::LoadMachine(machineFile);
        if (source.document.contains("fileSystem")) {
            std::cerr << "lenticor-sim: the machine file's \"fileSystem\" links are not made: "
                         "files are this PC's own\n";
        }
        std::optional<lenticor::sim::ScratchFolder> scratch;
        const auto programData =
            PrepareProgramData(lenticor::sim::SimDrivesFolder(source, scratch));
        lenticor::win32::Win32Host host;
        lenticor::sim::SimulatedProgramData environment(*host.environment, programData);
        return lenticor::sim::RunOnSimulatedMachine(
            argc, argv, source,
            lenticor::HostPorts{*host.files, *host.crypto, environment, *host.standardInput});
    } catch (const lenticor::sim::MachineError& error) {
        return lenticor::sim::ReportUnusableMachine(error);
    } catch (const std::filesystem::filesystem_error& error) {
        return lenticor::sim::ReportUnusableMachine(error);
    }
}
