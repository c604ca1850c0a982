// What the simulated DDC/CI bus does that the end-to-end power cases, which
// assert whole transaction logs, cannot show: handle bookkeeping, errors on
// stale handles and monitor behaviour no case drives.

#include "platform/sim/sim_ddc.h"
#include "platform/sim/posix_host.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim_test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

namespace lenticor::sim {
namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kNoAnswer = 0xC0262582u;  // ERROR_GRAPHICS_I2C_ERROR_TRANSMITTING_DATA
constexpr std::uint32_t kVcpNotSupported = 0xC0262584u;  // ERROR_GRAPHICS_DDCCI_VCP_NOT_SUPPORTED
constexpr std::uint32_t kBadPhysicalHandle = 0xC026258Cu;
constexpr std::uint32_t kArrayTooSmall = 0xC02625E6u;  // ERROR_GRAPHICS_PARAMETER_ARRAY_TOO_SMALL
constexpr std::uint32_t kMonitorGone = 0xC026258Du;    // ERROR_GRAPHICS_MONITOR_NO_LONGER_EXISTS
constexpr std::uint32_t kBadMonitorHandle = 1461;      // ERROR_INVALID_MONITOR_HANDLE

// One output with a monitor; `ddc` null leaves the monitor without DDC/CI.
Json MachineWith(const Json& ddc, bool powerButton = false) {
    // clang-format off
    Json machine = Json::parse(R"({"adapters": [{"description": "GPU", "outputs": [{
        "mode": {"width": 1920, "height": 1080, "refreshRate": 60},
        "monitor": {"hardwareId": "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"}}]}]})");
    // clang-format on
    if (!ddc.is_null())
        machine["adapters"][0]["outputs"][0]["monitor"]["ddc"] = ddc;
    if (powerButton)
        machine["adapters"][0]["outputs"][0]["monitor"]["powerButton"] = true;
    return machine;
}

// A machine and its ports, with the steps a DDC command takes.
struct Bus {
    explicit Bus(const Json& document) : machine(ParseMachine(document)) {}

    MonitorHandle Monitor() {
        MonitorHandle found;
        (void)ports.monitors.EnumDisplayMonitors([&](MonitorHandle m) { return found = m, false; });
        return found;
    }
    PhysicalMonitorHandle Acquire() {
        std::vector<PhysicalMonitor> monitors(1);
        EXPECT_TRUE(ports.monitorConfiguration.GetPhysicalMonitors(Monitor(), monitors).ok);
        return monitors[0].handle;
    }
    DdcCall Read(PhysicalMonitorHandle monitor, std::uint8_t code, std::uint32_t& value) {
        std::uint32_t type = 0, maximum = 0;
        // clang-format off
        return ports.monitorConfiguration.GetVCPFeatureAndVCPFeatureReply(monitor, code, type, value, maximum);
        // clang-format on
    }

    SimMachine machine;
    SimPorts ports{machine};
};

// Each script step is "+N" (sleep N ms), "wV" (write D6 value V) or "rV" (a
// D6 read must show V).
TEST(SimulatedDdc, PowerFollowsTheMonitorsOffAndWakeBehaviour) {
    // clang-format off
    const std::tuple<const char*, Json, bool, const char*> cases[] = {
        {"off after offDelayMs", {{"vcp", {{"D6", 1}}}, {"offDelayMs", 500}}, false, "w4 +400 r1 +60 r4"},
        {"a repeated on while waking does not restart the wake", {{"vcp", {{"D6", 4}}}, {"wakeMs", 1000}}, false, "w1 +800 w1 +160 r1"},
        {"off during a wake stays off", {{"vcp", {{"D6", 4}}}, {"wakeMs", 1000}}, false, "w1 w5 +2000 r5"},
        {"the power button wakes a monitor deaf when off", {{"vcp", {{"D6", 4}}}, {"deafWhenOff", true}}, true, "r1 w5"},
        {"the power button switches a monitor that is on off", {{"vcp", {{"D6", 1}}}}, true, "r5"},
    };
    // clang-format on
    for (const auto& [name, ddc, button, script] : cases) {
        SCOPED_TRACE(name);
        Bus bus(MachineWith(ddc, button));
        const auto monitor = bus.Acquire();
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            SCOPED_TRACE(step);
            const auto number = static_cast<std::uint32_t>(std::stoul(step.substr(1)));
            std::uint32_t value = 0;
            if (step[0] == '+') {
                bus.ports.steadyClock.Advance(std::int64_t{number} * 1'000'000);
            } else if (step[0] == 'w') {
                EXPECT_TRUE(bus.ports.monitorConfiguration.SetVCPFeature(monitor, 0xD6, number).ok);
            } else {
                EXPECT_TRUE(bus.Read(monitor, 0xD6, value).ok && value == number) << value;
            }
        }
    }
}

TEST(SimulatedDdc, ReenumerationOnWakeLeavesTheOldHandlesStale) {
    // clang-format off
    Bus bus(MachineWith({{"vcp", {{"D6", 4}}}, {"wakeMs", 1000}, {"reenumeratesOnWake", true}, {"reenumerationGapMs", 0}}));
    // clang-format on
    const auto oldMonitor = bus.Monitor();
    const auto physical = bus.Acquire();
    const auto arrival = bus.machine.adapters[0].outputs[0].monitor->lastArrival;
    ASSERT_TRUE(bus.ports.monitorConfiguration.SetVCPFeature(physical, 0xD6, 1).ok);
    bus.ports.steadyClock.Advance(999'000'000);
    EXPECT_EQ(bus.Monitor(), oldMonitor) << "still waking";

    bus.ports.steadyClock.Advance(1'000'000);
    std::uint32_t value = 0, count = 0;
    EXPECT_EQ(bus.Read(physical, 0xD6, value).error, kMonitorGone);
    EXPECT_EQ(bus.ports.monitorConfiguration.GetNumberOfPhysicalMonitors(oldMonitor, count).error,
              kBadMonitorHandle);
    EXPECT_EQ(bus.machine.adapters[0].outputs[0].monitor->lastArrival, arrival + 10'000'000u);
}

TEST(SimulatedDdc, AnswersWhatTheMonitorCannotDoWithTheErrorsDxva2Reports) {
    const Json vcp = {{"D6", 1}, {"10", 5}};
    // The monitor, whether the code is written (else read), the code, the error.
    // clang-format off
    const std::tuple<const char*, Json, bool, std::uint8_t, std::uint32_t> cases[] = {
        {"no DDC/CI", nullptr, false, 0xD6, kNoAnswer},
        {"unknown code read", {{"vcp", vcp}}, false, 0x12, kVcpNotSupported},
        {"unknown code write has no reply to fail", {{"vcp", vcp}}, true, 0x12, 0},
        {"one code's reads fail, its key in any case", {{"vcp", vcp}, {"readFails", {{"d6", 31}}}}, false, 0xD6, 31},
        {"another code reads", {{"vcp", vcp}, {"readFails", {{"D6", 31}}}}, false, 0x10, 0},
    };
    // clang-format on
    for (const auto& [name, ddc, write, code, error] : cases) {
        SCOPED_TRACE(name);
        Bus bus(MachineWith(ddc));
        const auto monitor = bus.Acquire();
        std::uint32_t value = 0;
        // clang-format off
        const DdcCall outcome = write ? bus.ports.monitorConfiguration.SetVCPFeature(monitor, code, 3) : bus.Read(monitor, code, value);
        // clang-format on
        EXPECT_EQ(outcome.ok, error == 0);
        EXPECT_EQ(outcome.error, error);
    }
}

TEST(SimulatedDdc, PhysicalMonitorHandlesAreCountedUntilDestroyed) {
    Bus bus(MachineWith({{"physicalMonitors", 2}, {"vcp", {{"D6", 1}}}}));
    auto& api = bus.ports.monitorConfiguration;
    std::vector<PhysicalMonitor> monitors(1);
    EXPECT_EQ(api.GetPhysicalMonitors(bus.Monitor(), monitors).error, kArrayTooSmall);
    monitors.resize(2);
    ASSERT_TRUE(api.GetPhysicalMonitors(bus.Monitor(), monitors).ok);
    EXPECT_NE(monitors[0].handle, monitors[1].handle);
    EXPECT_EQ(api.livePhysicalMonitors(), 2u);

    ASSERT_TRUE(api.DestroyPhysicalMonitors(monitors).ok);
    EXPECT_EQ(api.livePhysicalMonitors(), 0u);
    EXPECT_EQ(api.DestroyPhysicalMonitors(monitors).error, kBadPhysicalHandle);
    std::uint32_t value = 0;
    EXPECT_EQ(bus.Read(monitors[0].handle, 0xD6, value).error, kBadPhysicalHandle);
    EXPECT_EQ(bus.machine.ddc.log.back().cost, 0) << "nothing reached the bus";
}

// fd 0 is the process's own, so the pipe is swapped in inside a child. An
// open, empty pipe has nothing to read but is fine; once its writer has gone,
// the peek fails.
TEST(SimulatedStandardInput, PeeksWithoutBlockingAndReportsABrokenPipe) {
    // clang-format off
    EXPECT_EQ(testing::ExitCodeInChildProcess([] {
        int ends[2] = {};
        SimStandardInput input;
        std::uint32_t empty = 99, full = 0, read = 0;
        char buffer[16] = {};
        const bool ok = ::pipe(ends) == 0 && ::dup2(ends[0], STDIN_FILENO) >= 0 && input.IsPipe() && input.PeekAvailable(empty) &&
                        ::write(ends[1], "cancel\n", 7) == 7 && input.PeekAvailable(full) && input.Read(std::span(buffer, full), read) &&
                        ::close(ends[1]) == 0;
        return ok && empty == 0 && full == 7 && read == 7 && !input.PeekAvailable(full) ? 0 : 1;
    }), 0);
    // clang-format on
}

}  // namespace
}  // namespace lenticor::sim
