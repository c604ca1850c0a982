#pragma once
// The Linux host of lenticor-sim: simulated drives under a folder of the
// caller's, OpenSSL, the process's environment and its file descriptor 0.

#include "platform/sim/sim_crypto.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_host.h"

#include <filesystem>

namespace lenticor::sim {

// The environment of the lenticor-sim process itself, so a host developer
// sets LENTICOR_CAMERA_DEBUG as on Windows, and ProgramData as a Windows
// process inherits it: whatever it names is on the simulated drives, so
// unlike lenticor-sim.exe nothing real is at stake, and a case can try a
// ProgramData that is unset, elsewhere or too long.
class ProcessEnvironment final : public SimEnvironment {
  public:
    std::uint32_t GetEnvironmentVariableW(std::wstring_view name, std::uint32_t capacity,
                                          std::wstring& value) override;
};

// The lenticor-sim process's own file descriptor 0, so a host can drive the
// cancel watcher through a real pipe.
class SimStandardInput final : public StandardInput {
  public:
    [[nodiscard]] bool IsPipe() override;
    [[nodiscard]] bool PeekAvailable(std::uint32_t& available) override;
    [[nodiscard]] bool Read(std::span<char> buffer, std::uint32_t& read) override;
};

class PosixHost {
  public:
    // Drive letters live under `drivesRoot` (see SimFiles).
    explicit PosixHost(std::filesystem::path drivesRoot = "drives")
        : files(std::move(drivesRoot)) {}
    PosixHost(const PosixHost&) = delete;
    PosixHost& operator=(const PosixHost&) = delete;

    [[nodiscard]] HostPorts Ports() { return HostPorts{files, crypto, environment, standardInput}; }

    SimFiles files;
    OpenSslCrypto crypto;
    ProcessEnvironment environment;
    SimStandardInput standardInput;
};

}  // namespace lenticor::sim
