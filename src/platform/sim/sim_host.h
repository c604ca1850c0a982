#pragma once
// What a simulated run takes from the computer it runs on rather than from
// the machine file: files, cryptography, the process environment and standard
// input. Each entry point of lenticor-sim chooses them in one place: the
// Linux build simulates the drives (SimFiles) and uses OpenSSL, the Windows
// build uses this PC's own files and CNG.

#include "platform/crypto.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/standard_input.h"

#include <string>

namespace lenticor::sim {

// The process environment, except that ProgramData names the simulated
// machine's own folder whatever the process inherited: on a developer's
// Windows PC the inherited value is the real machine-wide folder, which a
// simulated run must never write into.
class SimulatedProgramData final : public Environment {
  public:
    SimulatedProgramData(Environment& inherited, std::wstring programData)
        : inherited_(inherited), programData_(std::move(programData)) {}
    [[nodiscard]] std::uint32_t GetEnvironmentVariable(std::wstring_view name,
                                                       std::uint32_t capacity) override;
    [[nodiscard]] std::uint32_t GetEnvironmentVariableW(std::wstring_view name,
                                                        std::uint32_t capacity,
                                                        std::wstring& value) override;

  private:
    Environment& inherited_;
    std::wstring programData_;
};

}  // namespace lenticor::sim
