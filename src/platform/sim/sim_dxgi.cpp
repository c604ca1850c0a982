#include "platform/sim/sim_dxgi.h"

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_records.h"

namespace lenticor::sim {
namespace {

class Output final : public DxgiOutput {
  public:
    explicit Output(const SimOutput& output) : output_(output) {}
    HResult GetDesc(DxgiOutputDesc& desc) override {
        const PortCall counted;
        if (output_.faults.getDesc) {
            return *output_.faults.getDesc;
        }
        desc.deviceName = Fixed(output_.deviceName, 32);
        desc.desktopCoordinates = {output_.x, output_.y,
                                   output_.x + static_cast<std::int32_t>(output_.mode.width),
                                   output_.y + static_cast<std::int32_t>(output_.mode.height)};
        desc.attachedToDesktop = true;
        desc.rotation = output_.orientation + 1;
        return kSOk;
    }

  private:
    const SimOutput& output_;
};

class Adapter final : public DxgiAdapter {
  public:
    explicit Adapter(const SimAdapter& adapter) : adapter_(adapter) {}
    HResult GetDesc1(DxgiAdapterDesc& desc) override {
        const PortCall counted;
        if (adapter_.faults.getDesc1) {
            return *adapter_.faults.getDesc1;
        }
        desc.description = Fixed(adapter_.description, 128);
        desc.vendorId = adapter_.vendorId;
        desc.deviceId = adapter_.deviceId;
        desc.adapterLuid = adapter_.luid;
        desc.flags = adapter_.flags;
        return kSOk;
    }
    HResult EnumOutputs(std::uint32_t ordinal, std::unique_ptr<DxgiOutput>& output) override {
        const PortCall counted;
        if (adapter_.faults.enumOutputs) {
            return *adapter_.faults.enumOutputs;
        }
        std::uint32_t seen = 0;
        for (const auto& candidate : adapter_.outputs) {
            if (candidate.active && seen++ == ordinal) {
                output = std::make_unique<Output>(candidate);
                return kSOk;
            }
        }
        return kDxgiErrorNotFound;
    }

  private:
    const SimAdapter& adapter_;
};

class Factory final : public DxgiFactory {
  public:
    explicit Factory(const SimMachine& machine) : machine_(machine) {}
    HResult EnumAdapters1(std::uint32_t ordinal, std::unique_ptr<DxgiAdapter>& adapter) override {
        const PortCall counted;
        if (ordinal >= machine_.adapters.size()) {
            return kDxgiErrorNotFound;
        }
        adapter = std::make_unique<Adapter>(machine_.adapters[ordinal]);
        return kSOk;
    }

  private:
    const SimMachine& machine_;
};

}  // namespace

HResult SimDxgi::CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) {
    const PortCall counted;
    if (machine_.faults.createDxgiFactory1) {
        return *machine_.faults.createDxgiFactory1;
    }
    factory = std::make_unique<Factory>(machine_);
    return kSOk;
}

}  // namespace lenticor::sim
