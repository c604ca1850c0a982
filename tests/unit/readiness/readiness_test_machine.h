#pragma once
// A simulated PC built from a JSON snippet, with a captured console and a
// clock fixed at 00:00:00.000 UTC. The machine and its ports stay in reach, so
// a test can read back what a command changed and how many COM interfaces are
// still alive.

#include "app/diagnostic_log.h"
#include "platform/sim/posix_host.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ports.h"
#include "test_platform.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <optional>
#include <string>

namespace lenticor::testing {

class ReadinessMachine {
  public:
    explicit ReadinessMachine(const nlohmann::json& document)
        : machine(sim::ParseMachine(document)), ports(machine) {}
    std::string Err() const { return console.err.str(); }

    CapturingConsole console;
    FixedClock clock;
    sim::SimMachine machine;
    sim::SimPorts ports;
    sim::PosixHost host;
    Platform platform = ports.MakePlatform(console, clock, host.Ports());
    DiagnosticLog log{console.err, clock};
};

// Sets an environment variable (nullptr: removes it) for one scope.
class ScopedEnvironmentVariable {
  public:
    ScopedEnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        Set(value);
    }
    ~ScopedEnvironmentVariable() { Set(saved_ ? saved_->c_str() : nullptr); }

  private:
    void Set(const char* value) {
        value != nullptr ? ::setenv(name_, value, 1) : ::unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> saved_;
};

// {key: value}
inline nlohmann::json Member(const char* key, nlohmann::json value) {
    return {{key, std::move(value)}};
}

// {"width": w, "height": h, "refreshRate": hz}
inline nlohmann::json Mode(int width, int height, int refreshRate) {
    return {{"width", width}, {"height", height}, {"refreshRate", refreshRate}};
}

// An output with a monitor, for snippets: position, size, monitor fields.
inline nlohmann::json Output(int x, int y, int width, int height, nlohmann::json monitor) {
    nlohmann::json output = {{"position", {{"x", x}, {"y", y}}}, {"mode", Mode(width, height, 60)}};
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

// One adapter with a 1920x1080 panel at the origin and `second` (with a
// 3840x2160 mode unless it says otherwise) to its right as \\.\DISPLAY2.
inline nlohmann::json PanelAnd(const nlohmann::json& second) {
    auto output = Output(1920, 0, 3840, 2160, nullptr);
    output.update(second);
    return OneAdapter({Output(0, 0, 1920, 1080, nullptr), output});
}

}  // namespace lenticor::testing
