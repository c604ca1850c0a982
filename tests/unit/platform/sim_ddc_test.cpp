#include "platform/sim/sim_ddc.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace lenticor::sim {
namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kNoAnswer = 0xC0262582u;  // ERROR_GRAPHICS_I2C_ERROR_TRANSMITTING_DATA
constexpr std::uint32_t kVcpNotSupported = 0xC0262584u;  // ERROR_GRAPHICS_DDCCI_VCP_NOT_SUPPORTED
constexpr std::uint32_t kBadPhysicalHandle = 0xC026258Cu;
constexpr std::uint32_t kMonitorGone = 0xC026258Du;  // ERROR_GRAPHICS_MONITOR_NO_LONGER_EXISTS
constexpr std::uint32_t kBadMonitorHandle = 1461;    // ERROR_INVALID_MONITOR_HANDLE
constexpr std::int64_t kMs = 1'000'000;

// One output with a monitor; `ddc` null leaves the monitor without DDC/CI.
Json MachineWith(const Json& ddc) {
    Json monitor = {
        {"hardwareId", "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"}};
    if (!ddc.is_null()) {
        monitor["ddc"] = ddc;
    }
    const Json output = {{"mode", {{"width", 1920}, {"height", 1080}, {"refreshRate", 60}}},
                         {"monitor", monitor}};
    return {{"adapters", {{{"description", "GPU"}, {"outputs", {output}}}}}};
}

// A machine and its ports, with the steps a DDC command takes.
class Bus {
  public:
    explicit Bus(const Json& document) : machine(ParseMachine(document)) {}

    MonitorHandle Monitor() {
        MonitorHandle found = 0;
        (void)ports.monitors.EnumDisplayMonitors([&](MonitorHandle monitor) {
            found = monitor;
            return false;
        });
        return found;
    }
    PhysicalMonitorHandle Acquire() {
        std::vector<PhysicalMonitor> monitors(1);
        EXPECT_TRUE(ports.monitorConfiguration.GetPhysicalMonitors(Monitor(), monitors).ok);
        return monitors[0].handle;
    }
    DdcCall Read(PhysicalMonitorHandle monitor, std::uint8_t code, std::uint32_t& value) {
        std::uint32_t type = 0;
        std::uint32_t maximum = 0;
        return ports.monitorConfiguration.GetVCPFeatureAndVCPFeatureReply(monitor, code, type,
                                                                          value, maximum);
    }
    std::uint32_t Power(PhysicalMonitorHandle monitor) {
        std::uint32_t value = 0;
        EXPECT_TRUE(Read(monitor, 0xD6, value).ok);
        return value;
    }
    void Sleep(std::int64_t ms) {
        ports.steadyClock.SleepUntil(ports.steadyClock.NowNanoseconds() + ms * kMs);
    }
    std::uint64_t LastArrival() {
        DevInst node = 0;
        EXPECT_EQ(ports.configManager.LocateDevNode(node, L"DISPLAY\\KZV1A07\\5&1a2b3c4d&0&UID4352",
                                                    kCmLocateDevNodeNormal),
                  kCrSuccess);
        std::uint8_t bytes[8] = {};
        std::uint32_t type = 0;
        std::uint32_t size = sizeof bytes;
        EXPECT_EQ(ports.configManager.GetDevNodeProperty(node, DeviceProperty::LastArrivalDate,
                                                         type, bytes, size),
                  kCrSuccess);
        std::uint64_t arrival = 0;
        std::memcpy(&arrival, bytes, sizeof arrival);
        return arrival;
    }

    SimMachine machine;
    SimPorts ports{machine};
};

// A script of D6 writes, waits and the value each read must show, against the
// monitor's power behaviour.
TEST(SimulatedDdc, PowerFollowsTheMonitorsWakeAndOffBehaviour) {
    struct Step {
        std::int64_t sleepMs;
        std::optional<std::uint32_t> write;  // else a read
        std::uint32_t expectRead = 0;
    };
    struct Case {
        const char* name;
        Json ddc;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"instant wake", {{"vcp", {{"D6", 4}}}}, {{0, 1u, 0}, {0, std::nullopt, 1}}},
        {"wake takes wakeMs from the end of the write",
         {{"vcp", {{"D6", 4}}}, {"wakeMs", 2000}},
         {{0, 1u, 0}, {1950, std::nullopt, 4}, {10, std::nullopt, 1}}},
        {"first wake request is slept through",
         {{"vcp", {{"D6", 2}}}, {"ignoresFirstWrite", true}},
         {{0, 1u, 0}, {0, std::nullopt, 2}, {0, 1u, 0}, {0, std::nullopt, 1}}},
        {"a repeated on while waking does not restart the wake",
         {{"vcp", {{"D6", 4}}}, {"wakeMs", 1000}},
         {{0, 1u, 0}, {800, 1u, 0}, {160, std::nullopt, 1}}},
        {"off after offDelayMs",
         {{"vcp", {{"D6", 1}}}, {"offDelayMs", 500}},
         {{0, 4u, 0}, {400, std::nullopt, 1}, {60, std::nullopt, 4}}},
        {"off during a wake stays off",
         {{"vcp", {{"D6", 4}}}, {"wakeMs", 1000}},
         {{0, 1u, 0}, {0, 5u, 0}, {2000, std::nullopt, 5}}},
        {"values outside 01..05 are dropped",
         {{"vcp", {{"D6", 1}}}},
         {{0, 0u, 0}, {0, 6u, 0}, {0, std::nullopt, 1}}},
    };
    for (const auto& [name, ddc, steps] : cases) {
        Bus bus(MachineWith(ddc));
        const auto monitor = bus.Acquire();
        for (std::size_t i = 0; i < steps.size(); ++i) {
            bus.Sleep(steps[i].sleepMs);
            if (steps[i].write) {
                EXPECT_TRUE(
                    bus.ports.monitorConfiguration.SetVCPFeature(monitor, 0xD6, *steps[i].write).ok)
                    << name << " step " << i;
            } else {
                EXPECT_EQ(bus.Power(monitor), steps[i].expectRead) << name << " step " << i;
            }
        }
    }
}

TEST(SimulatedDdc, ReenumerationOnWakeReplacesTheHandlesAndTheArrivalTime) {
    Bus bus(MachineWith({{"vcp", {{"D6", 4}}}, {"wakeMs", 1000}, {"reenumeratesOnWake", true}}));
    const auto oldMonitor = bus.Monitor();
    const auto oldArrival = bus.LastArrival();
    const auto physical = bus.Acquire();
    ASSERT_TRUE(bus.ports.monitorConfiguration.SetVCPFeature(physical, 0xD6, 1).ok);
    bus.Sleep(999);
    EXPECT_EQ(bus.Monitor(), oldMonitor) << "still waking";

    bus.Sleep(1);
    std::uint32_t value = 0;
    EXPECT_EQ(bus.Read(physical, 0xD6, value).error, kMonitorGone);
    std::uint32_t count = 0;
    EXPECT_EQ(bus.ports.monitorConfiguration.GetNumberOfPhysicalMonitors(oldMonitor, count).error,
              kBadMonitorHandle);
    MonitorInfo info;
    EXPECT_FALSE(bus.ports.monitors.QueryMonitorInfo(oldMonitor, info));
    EXPECT_NE(bus.Monitor(), oldMonitor);
    EXPECT_EQ(bus.LastArrival(), oldArrival + 10'000'000u);
    EXPECT_EQ(bus.Power(bus.Acquire()), 1u);
}

TEST(SimulatedDdc, EveryTransactionCostsAtLeastTheDdcCiMinimum) {
    // ceil(N / 32) fragments of 50 ms, at least one, after a 50 ms length query.
    const std::pair<std::size_t, std::int64_t> capabilities[] = {
        {0, 50}, {32, 50}, {33, 100}, {169, 300}};
    for (const auto& [bytes, requestMs] : capabilities) {
        Bus bus(MachineWith({{"capabilities", std::string(bytes, 'x')}, {"vcp", {{"10", 7}}}}));
        const auto monitor = bus.Acquire();
        const auto start = bus.ports.steadyClock.NowNanoseconds();
        std::uint32_t length = 0;
        ASSERT_TRUE(bus.ports.monitorConfiguration.GetCapabilitiesStringLength(monitor, length).ok);
        EXPECT_EQ(length, bytes + 1);
        std::string buffer(length, '?');
        ASSERT_TRUE(
            bus.ports.monitorConfiguration.CapabilitiesRequestAndCapabilitiesReply(monitor, buffer)
                .ok);
        EXPECT_EQ(buffer, std::string(bytes, 'x') + '\0');
        EXPECT_EQ(bus.ports.steadyClock.NowNanoseconds() - start, (50 + requestMs) * kMs) << bytes;

        std::uint32_t value = 0;
        ASSERT_TRUE(bus.Read(monitor, 0x10, value).ok);
        ASSERT_TRUE(bus.ports.monitorConfiguration.SetVCPFeature(monitor, 0x10, 9).ok);
        const auto& log = bus.machine.ddc.log;
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[2].cost, 40 * kMs);
        EXPECT_EQ(log[3].cost, 50 * kMs);
        EXPECT_EQ(log[3].at, (50 + requestMs + 40) * kMs) << "time since the run started";
    }
}

TEST(SimulatedDdc, FailuresReportTheErrorsDxva2Reports) {
    enum class Call { Length, Request, Read, Write };
    struct Case {
        const char* name;
        Json ddc;
        Call call;
        std::uint8_t code;
        std::uint32_t error;  // 0: succeeds
    };
    const Json working = {{"capabilities", "(vcp(10 D6))"}, {"vcp", {{"D6", 1}, {"10", 5}}}};
    auto with = [&](const char* member, const Json& value) {
        auto ddc = working;
        ddc[member] = value;
        return ddc;
    };
    const Case cases[] = {
        {"no DDC/CI: read", nullptr, Call::Read, 0xD6, kNoAnswer},
        {"no DDC/CI: write", nullptr, Call::Write, 0xD6, kNoAnswer},
        {"no DDC/CI: length", nullptr, Call::Length, 0, kNoAnswer},
        {"DDC/CI switched off", with("noDdc", true), Call::Request, 0, kNoAnswer},
        {"unknown code read", working, Call::Read, 0x12, kVcpNotSupported},
        {"unknown code write has no reply to fail", working, Call::Write, 0x12, 0},
        {"every read fails", with("readFails", "0xC026258B"), Call::Read, 0x10, 0xC026258Bu},
        {"one code's reads fail", with("readFails", {{"d6", 31}}), Call::Read, 0xD6, 31},
        {"another code reads", with("readFails", {{"D6", 31}}), Call::Read, 0x10, 0},
        {"one code's writes fail", with("writeFails", {{"10", 31}}), Call::Write, 0x10, 31},
        {"length fails", with("capabilitiesLengthFails", 50), Call::Length, 0, 50},
        {"request fails", with("capabilitiesRequestFails", 50), Call::Request, 0, 50},
    };
    for (const auto& [name, ddc, call, code, error] : cases) {
        Bus bus(MachineWith(ddc));
        const auto monitor = bus.Acquire();
        auto& api = bus.ports.monitorConfiguration;
        std::uint32_t value = 0;
        std::string buffer(64, '\0');
        const DdcCall outcome =
            call == Call::Length    ? api.GetCapabilitiesStringLength(monitor, value)
            : call == Call::Request ? api.CapabilitiesRequestAndCapabilitiesReply(monitor, buffer)
            : call == Call::Read    ? bus.Read(monitor, code, value)
                                    : api.SetVCPFeature(monitor, code, 3);
        EXPECT_EQ(outcome.ok, error == 0) << name;
        EXPECT_EQ(outcome.error, error) << name;
        ASSERT_EQ(bus.machine.ddc.log.size(), 1u) << name;
        EXPECT_EQ(bus.machine.ddc.log[0].error.value_or(0), error) << name;
    }
}

TEST(SimulatedDdc, PhysicalMonitorHandlesAreCountedUntilDestroyed) {
    Bus bus(MachineWith({{"physicalMonitors", 2}, {"vcp", {{"D6", 1}}}}));
    auto& api = bus.ports.monitorConfiguration;
    std::uint32_t count = 0;
    ASSERT_TRUE(api.GetNumberOfPhysicalMonitors(bus.Monitor(), count).ok);
    EXPECT_EQ(count, 2u);
    std::vector<PhysicalMonitor> tooFew(1);
    EXPECT_FALSE(api.GetPhysicalMonitors(bus.Monitor(), tooFew).ok);
    std::vector<PhysicalMonitor> monitors(2);
    ASSERT_TRUE(api.GetPhysicalMonitors(bus.Monitor(), monitors).ok);
    EXPECT_NE(monitors[0].handle, monitors[1].handle);
    EXPECT_EQ(monitors[0].description, L"Generic PnP Monitor");
    EXPECT_EQ(api.livePhysicalMonitors(), 2u);

    ASSERT_TRUE(api.DestroyPhysicalMonitors(monitors).ok);
    EXPECT_EQ(api.livePhysicalMonitors(), 0u);
    EXPECT_EQ(api.DestroyPhysicalMonitors(monitors).error, kBadPhysicalHandle);
    std::uint32_t value = 0;
    EXPECT_EQ(bus.Read(monitors[0].handle, 0xD6, value).error, kBadPhysicalHandle);
    EXPECT_EQ(bus.machine.ddc.log.back().cost, 0) << "nothing reached the bus";
}

TEST(SimulatedDdc, StoreKeepsTheFilesShapeAndSavesOnlyWhatTheRunTouched) {
    const Json ddc = {{"vcp", {{"D6", 4}, {"10", {{"current", 5}, {"maximum", 10}}}}},
                      {"reenumeratesOnWake", true}};
    auto document = MachineWith(ddc);
    Bus idle(document);
    (void)idle.Monitor();
    EXPECT_FALSE(SimDdcNeedsSaving(idle.machine));

    Bus bus(document);
    const auto monitor = bus.Acquire();
    ASSERT_TRUE(bus.ports.monitorConfiguration.SetVCPFeature(monitor, 0x10, 11).ok);
    ASSERT_TRUE(bus.ports.monitorConfiguration.SetVCPFeature(monitor, 0xD6, 1).ok);
    SettleSimDdc(bus.machine, true);
    ASSERT_TRUE(SimDdcNeedsSaving(bus.machine));
    StoreSimDdc(bus.machine, document);

    const auto& stored = document["adapters"][0]["outputs"][0]["monitor"];
    EXPECT_EQ(stored["ddc"]["vcp"]["D6"], 1) << "a bare number stays a bare number";
    EXPECT_EQ(stored["ddc"]["vcp"]["10"]["current"], 5) << "11 is above the maximum";
    EXPECT_EQ(stored["lastArrival"], 133485408000000000ull + 4352 + 10'000'000);
    ASSERT_EQ(document["ddcLog"].size(), 2u);
    EXPECT_EQ(document["ddcLog"][1], Json({{"atMs", 50},
                                           {"costMs", 50},
                                           {"code", "D6"},
                                           {"display", "\\\\.\\DISPLAY1"},
                                           {"operation", "SetVCPFeature"},
                                           {"value", 1}}));

    // The next run starts from what was stored, and a file with a log is
    // written again so that the log never describes an earlier run.
    const auto next = ParseMachine(document);
    EXPECT_EQ(next.adapters[0].outputs[0].monitor->ddc->vcp.at(0xD6).current, 1u);
    EXPECT_TRUE(SimDdcNeedsSaving(next));
}

// fd 0 is the process's own, so the pipe is swapped in inside a child.
TEST(SimulatedStandardInput, PeeksWithoutBlockingAndReportsABrokenPipe) {
    const int code = testing::ExitCodeInChildProcess([] {
        int ends[2] = {};
        if (::pipe(ends) != 0 || ::dup2(ends[0], STDIN_FILENO) < 0) {
            return 10;
        }
        SimStandardInput input;
        std::uint32_t available = 99;
        if (!input.IsPipe() || !input.PeekAvailable(available) || available != 0) {
            return 11;  // an open, empty pipe has nothing to read but is fine
        }
        if (::write(ends[1], "cancel\n", 7) != 7 || !input.PeekAvailable(available) ||
            available != 7) {
            return 12;
        }
        char buffer[16] = {};
        std::uint32_t read = 0;
        if (!input.Read(std::span<char>(buffer, available), read) || read != 7) {
            return 13;
        }
        ::close(ends[1]);
        return input.PeekAvailable(available) ? 14 : 0;
    });
    EXPECT_EQ(code, 0);
}

TEST(SimulatedDdc, RejectsMalformedMembersWithTheirPlace) {
    const std::pair<Json, std::string> cases[] = {
        {{{"vcp", {{"D", 1}}}}, "/ddc/vcp/D: a VCP code is two hexadecimal digits, such as \"D6\""},
        {{{"vcp", {{"d6", 1}, {"D6", 4}}}}, "VCP code given twice"},
        {{{"vcp", {{"10", 65536}}}}, "/ddc/vcp/10: out of range 0..65535"},
        {{{"capabilities", "caf\xc3\xa9"}}, "/ddc/capabilities: a capabilities string holds"},
        {{{"wake", 1}}, "/ddc/wake: unknown member"},
    };
    for (const auto& [ddc, problem] : cases) {
        try {
            (void)ParseMachine(MachineWith(ddc));
            ADD_FAILURE() << "accepted " << ddc.dump();
        } catch (const MachineError& error) {
            EXPECT_NE(std::string(error.what()).find(problem), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace lenticor::sim
