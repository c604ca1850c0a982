#pragma once
// A simulated PC built from a JSON snippet, with a captured console and a
// clock fixed at 00:00:00.000 UTC, for tests of the display inventory.

#include "platform/sim/posix_host.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ports.h"
#include "test_platform.h"

#include <nlohmann/json.hpp>

#include <string>

namespace lenticor::testing {

class DisplayTestMachine {
  public:
    explicit DisplayTestMachine(const nlohmann::json& document)
        : machine_(sim::ParseMachine(document)), ports_(machine_) {}

    Platform& platform() { return platform_; }
    std::string Err() const { return console_.err.str(); }
    CapturingConsole& console() { return console_; }

  private:
    CapturingConsole console_;
    FixedClock clock_;
    sim::SimMachine machine_;
    sim::SimPorts ports_;
    sim::PosixHost host_;
    Platform platform_ = ports_.MakePlatform(console_, clock_, host_.Ports());
};

// An output with a monitor, for snippets: position, size, monitor fields.
inline nlohmann::json Output(int x, int y, int width, int height, nlohmann::json monitor) {
    nlohmann::json output = {{"position", {{"x", x}, {"y", y}}},
                             {"mode", {{"width", width}, {"height", height}, {"refreshRate", 60}}}};
    if (!monitor.is_null()) {
        output["monitor"] = std::move(monitor);
    }
    return output;
}

inline nlohmann::json Monitor(const std::string& model, const std::string& deviceString,
                              nlohmann::json edid) {
    nlohmann::json monitor = {
        {"hardwareId", "MONITOR\\" + model + "\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"},
        {"deviceString", deviceString}};
    if (!edid.is_null()) {
        monitor["edid"] = std::move(edid);
    }
    return monitor;
}

inline nlohmann::json OneAdapter(nlohmann::json outputs, const std::string& description = "GPU") {
    return {{"adapters", {{{"description", description}, {"outputs", std::move(outputs)}}}}};
}

}  // namespace lenticor::testing
