#pragma once
// What the simulated machine adds for the readiness commands: DirectShow
// cameras behind COM, present USB devices, the environment, and per output a
// mode change and a display scale. Described in docs/simulated-readiness.md.

#include "platform/environment.h"
#include "platform/video_inputs.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace lenticor::sim {

class Reader;
struct SimMachine;
struct SimOutput;

// "cameras" and "usbDevices", and the registry keys a camera with a serial
// number implies. Throws MachineError naming the place.
void ReadReadinessDevices(const Reader& root, SimMachine& machine);

// An output's "modeChange" and "dpi" members.
void ReadOutputReadiness(const Reader& output, SimOutput& simOutput);

// Writes each output's display scale back into the description (modes go
// back with the desktop state, StoreSimDesktop).
void StoreSimReadiness(const SimMachine& machine, nlohmann::json& document);

// COM as one thread sees it: the apartment is counted, and every interface
// handed out is counted until it is released, so tests can prove that
// nothing outlives the probe.
class SimVideoInputDevices final : public VideoInputDevices {
  public:
    explicit SimVideoInputDevices(SimMachine& machine) : machine_(machine) {}
    HResult CoInitializeApartment() override;
    void CoUninitialize() override;
    HResult CreateSystemDeviceEnumerator(
        std::unique_ptr<SystemDeviceEnumerator>& enumerator) override;

    // CoInitializeEx calls not yet balanced by CoUninitialize.
    [[nodiscard]] int apartmentDepth() const { return apartments_; }
    // Interfaces handed out and not yet released.
    [[nodiscard]] int liveInterfaces() const { return *live_; }

  private:
    SimMachine& machine_;
    int apartments_ = 0;
    std::shared_ptr<int> live_ = std::make_shared<int>(0);
};

}  // namespace lenticor::sim
