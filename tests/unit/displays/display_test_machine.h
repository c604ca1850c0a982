#pragma once
// The readiness machine under the accessors the display inventory, DDC and
// desktop tests use.

#include "readiness/readiness_test_machine.h"

#include <nlohmann/json.hpp>

#include <string>

namespace lenticor::testing {

class DisplayTestMachine : public ReadinessMachine {
  public:
    using ReadinessMachine::ReadinessMachine;
    Platform& platform() { return ReadinessMachine::platform; }
    CapturingConsole& console() { return ReadinessMachine::console; }
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
