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

// An environment of the simulation, which holds every value as text: the
// count-only call is the full one with the text left unused.
class SimEnvironment : public Environment {
  public:
    [[nodiscard]] std::uint32_t GetEnvironmentVariable(std::wstring_view name,
                                                       std::uint32_t capacity) final;

  protected:
    // GetEnvironmentVariableW's answer for a variable set to `text`: its
    // length, copied into `value`, when it fits in `capacity` with the
    // terminating NUL, else the size it needs.
    [[nodiscard]] static std::uint32_t Answer(const std::wstring& text, std::uint32_t capacity,
                                              std::wstring& value);
};

// The process environment, except that ProgramData names the simulated
// machine's own folder whatever the process inherited: on a developer's
// Windows PC the inherited value is the real machine-wide folder, which a
// simulated run must never write into.
class SimulatedProgramData final : public SimEnvironment {
  public:
    SimulatedProgramData(Environment& inherited, std::wstring programData)
        : inherited_(inherited), programData_(std::move(programData)) {}
    [[nodiscard]] std::uint32_t GetEnvironmentVariableW(std::wstring_view name,
                                                        std::uint32_t capacity,
                                                        std::wstring& value) override;

  private:
    Environment& inherited_;
    std::wstring programData_;
};

}  // namespace lenticor::sim
