#pragma once
// DXGI over the simulated machine: the factory's adapters are the machine's,
// each adapter's outputs are its active outputs (those on the desktop).

#include "platform/dxgi.h"

namespace lenticor::sim {

struct SimMachine;

class SimDxgi final : public Dxgi {
  public:
    explicit SimDxgi(SimMachine& machine) : machine_(machine) {}
    HResult CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) override;

  private:
    SimMachine& machine_;
};

}  // namespace lenticor::sim
