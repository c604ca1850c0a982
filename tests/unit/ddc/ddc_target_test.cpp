#include "ddc/ddc_target.h"

#include "app/text.h"
#include "ddc/power_command.h"
#include "displays/display_test_machine.h"
#include "platform/monitor_configuration.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <tuple>

namespace lenticor::testing {
namespace {

const std::string kNimboA = "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001";
const std::string kNimboB = "MONITOR\\KZV2B09\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0002";
const std::string kPanel = "MONITOR\\LPN0A81\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000";
constexpr DdcCall kOk{true, 0};

nlohmann::json Screen(const std::string& hardwareId, int x, bool active = true) {
    auto output = Output(x, 0, 1920, 1080, {{"hardwareId", hardwareId}});
    output["active"] = active;
    return output;
}

std::wstring Wide(const std::string& text) {
    return Utf8ToWideStrict(text).value();
}

// Monitors whose first GetMonitorInfoW fails, as for a display leaving
// mid-walk.
struct FirstInfoFails final : Monitors {
    explicit FirstInfoFails(Monitors& monitors) : real(monitors) {}
    // clang-format off
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override { return real.EnumDisplayMonitors(visit); }
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override { return std::exchange(failed, true) && real.QueryMonitorInfo(monitor, info); }
    // clang-format on
    Monitors& real;
    bool failed = false;
};

TEST(ResolveNimboDdcTarget, ChoosesOneActiveNimboByIdOrByUniqueness) {
    // What the case shows, the outputs, the id asked for, the monitor chosen
    // (empty: none), the error code, whether the first monitor is unreadable.
    // clang-format off
    const std::tuple<const char*, std::vector<nlohmann::json>, std::string, std::string, std::string, bool> cases[] = {
        {"one Nimbo beside a panel", {Screen(kPanel, 0), Screen(kNimboA, 1920)}, "", kNimboA, "", false},
        {"an unreadable monitor does not end the walk", {Screen(kPanel, 0), Screen(kNimboA, 1920)}, "", kNimboA, "", true},
        {"two Nimbos without an id", {Screen(kNimboA, 0), Screen(kNimboB, 1920)}, "", "", "AMBIGUOUS_NIMBO_DISPLAY", false},
        {"two Nimbos, the id in another case", {Screen(kNimboA, 0), Screen(kNimboB, 1920)}, "monitor\\kzv2b09\\{4D36E96E-E325-11CE-BFC1-08002BE10318}\\0002", kNimboB, "", false},
        {"the id of the panel", {Screen(kPanel, 0), Screen(kNimboA, 1920)}, kPanel, "", "DISPLAY_ID_NOT_FOUND", false},
        {"only a panel", {Screen(kPanel, 0)}, "", "", "NO_NIMBO_DISPLAY", false},
        {"a Nimbo off the desktop is not a target", {Screen(kPanel, 0), Screen(kNimboA, 1920, false)}, "", "", "NO_NIMBO_DISPLAY", false},
    };
    // clang-format on
    for (const auto& [situation, outputs, displayId, chosen, errorCode, firstInfoFails] : cases) {
        SCOPED_TRACE(situation);
        DisplayTestMachine pc(OneAdapter(nlohmann::json(outputs)));
        auto& p = pc.platform();
        FirstInfoFails unreadable{p.monitors};
        // clang-format off
        const auto resolution = nimbo::ResolveNimboDdcTarget(firstInfoFails ? unreadable : p.monitors, p.displayDevices, p.console, Wide(displayId));
        // clang-format on
        EXPECT_EQ(resolution.explicitDisplayId, !displayId.empty());
        EXPECT_EQ(resolution.errorCode, errorCode);
        EXPECT_EQ(resolution.candidate ? WideToUtf8(resolution.candidate->deviceId) : "", chosen);
    }
}

// Current, and named by a token, only as the same Nimbo on the same HMONITOR.
TEST(DdcCandidate, IsCurrentAndNamedByATokenOnlyOnItsOwnMonitorHandle) {
    DisplayTestMachine pc(OneAdapter({Screen(kPanel, 0), Screen(kNimboA, 1920)}));
    auto& p = pc.platform();
    // clang-format off
    const auto current = [&](const nimbo::NimboDdcCandidate& c) { return nimbo::IsDdcCandidateCurrent(p.monitors, p.displayDevices, p.console, c); };
    const auto token = [&](const nimbo::NimboDdcCandidate& c) { return nimbo::BuildCapabilityToken(p.monitors, p.displayDevices, p.configManager, c, "p1"); };
    const auto nimbo = nimbo::ResolveNimboDdcTarget(p.monitors, p.displayDevices, p.console, L"").candidate.value();
    // clang-format on
    auto moved = nimbo;
    moved.monitor.value += 1;
    EXPECT_TRUE(current(nimbo));
    EXPECT_FALSE(current(moved)) << "another handle";
    EXPECT_FALSE(current({Wide(kPanel), L"LPN0A81", nimbo.monitor})) << "not a Nimbo";
    const auto lowerId = WideToUtf8(ToLowerWide(nimbo.deviceId));
    const std::string idHex = ToLowerHex(lowerId.data(), lowerId.size());
    // clang-format off
    EXPECT_TRUE(std::regex_match(token(nimbo).value_or("none"), std::regex("p1:" + idHex + ":[0-9a-f]+:[0-9a-f]{16}")));
    // clang-format on
    EXPECT_FALSE(token(moved)) << "a handle whose adapter does not list the device";
}

// A dxva2 that answers as scripted and counts what it was asked.
struct ScriptedMonitorConfiguration final : MonitorConfiguration {
    // clang-format off
    DdcCall GetNumberOfPhysicalMonitors(MonitorHandle, std::uint32_t& n) override { return n = count, countCall; }
    DdcCall GetPhysicalMonitors(MonitorHandle, std::span<PhysicalMonitor> monitors) override { return monitors[0].handle = {acquireCall.ok ? 0x42u : 0u}, acquireCall; }
    DdcCall DestroyPhysicalMonitors(std::span<const PhysicalMonitor> monitors) override { return destroyed += static_cast<int>(monitors.size()), kOk; }
    DdcCall GetCapabilitiesStringLength(PhysicalMonitorHandle, std::uint32_t& n) override { return ++capabilityQueries, n = length, lengthCall; }
    DdcCall CapabilitiesRequestAndCapabilitiesReply(PhysicalMonitorHandle, std::span<char> buffer) override {
        requestedBytes = buffer.size();
        std::copy_n(reply.begin(), std::min(reply.size(), buffer.size()), buffer.begin());
        return requestCall;
    }
    DdcCall GetVCPFeatureAndVCPFeatureReply(PhysicalMonitorHandle monitor, std::uint8_t code, std::uint32_t&, std::uint32_t& current,
                                            std::uint32_t&) override { return asked = {monitor.value, code}, current = raw, vcpCall; }
    DdcCall SetVCPFeature(PhysicalMonitorHandle, std::uint8_t, std::uint32_t) override { return {false, 1}; }
    // clang-format on

    std::uint32_t count = 1, length = 0, raw = 0;
    DdcCall countCall = kOk, acquireCall = kOk, lengthCall = kOk, requestCall = kOk, vcpCall = kOk;
    std::string reply;
    int destroyed = 0, capabilityQueries = 0;
    std::size_t requestedBytes = 0;
    std::pair<std::uintptr_t, std::uint8_t> asked{};  // the VCP read's monitor and code
};

struct DdcBench {
    DisplayTestMachine pc{OneAdapter({Screen(kNimboA, 0)})};
    ScriptedMonitorConfiguration ddc;
    Console& console = pc.platform().console;
};

TEST(AcquireSinglePhysicalMonitor, OwnsExactlyOneMonitorAndDestroysItOnce) {
    // The count, its call, the acquisition's call, a cancel first, whether one is
    // owned, the log.
    // clang-format off
    const std::tuple<std::uint32_t, DdcCall, DdcCall, bool, bool, std::string> cases[] = {
        {1, kOk, kOk, false, true, ""},
        {2, kOk, kOk, false, false, "[NimboPower] expected one physical monitor, found 2\n"},
        {1, {false, 31}, kOk, false, false, "[NimboPower] physical monitor count failed, error=31\n"},
        {1, kOk, {false, 3223725441u}, false, false, "[NimboPower] physical monitor acquisition failed, error=3223725441\n"},
        {1, kOk, kOk, true, false, ""},
    };
    // clang-format on
    for (const auto& [count, countCall, acquireCall, cancelled, owned, err] : cases) {
        SCOPED_TRACE(::testing::Message() << count << countCall.error << acquireCall.error);
        DdcBench bench;
        // clang-format off
        std::tie(bench.ddc.count, bench.ddc.countCall, bench.ddc.acquireCall) = std::tie(count, countCall, acquireCall);
        {
            auto held = nimbo::AcquireSinglePhysicalMonitor(bench.ddc, bench.console, {7}, "[NimboPower]", [&] { return cancelled; });
            // clang-format on
            EXPECT_EQ(held.owned(), owned);
            EXPECT_EQ(held.handle().value, owned ? 0x42u : 0u);
            auto moved = std::move(held);  // ownership moves, never doubles
        }
        EXPECT_EQ(bench.ddc.destroyed, owned ? 1 : 0);
        EXPECT_EQ(bench.pc.Err(), err);
    }
}

TEST(ReadCapabilitiesString, ReadsOneToSixtyFourKibibytesUpToTheFirstNul) {
    // The length, its call, the request's call, the reply, what is read, the log.
    // clang-format off
    const std::tuple<std::uint32_t, DdcCall, DdcCall, std::string, std::optional<std::string>, std::string> cases[] = {
        {12, kOk, kOk, "vcp(D6(01 04))", "vcp(D6(01 04", ""},
        {40, kOk, kOk, std::string("vcp(10)\0junk", 12), "vcp(10)", ""},  // the reply ends early
        {65536, kOk, kOk, "x", "x", ""},
        {0, kOk, kOk, "", std::nullopt, "[NimboPower] capabilities length out of range, length=0\n"},
        {65537, kOk, kOk, "", std::nullopt, "[NimboPower] capabilities length out of range, length=65537\n"},
        {0, {false, 3223725442u}, kOk, "", std::nullopt, "[NimboPower] capabilities length unavailable, error=3223725442\n"},
        {5, kOk, {false, 1460}, "", std::nullopt, "[NimboPower] capabilities request failed, error=1460\n"},
    };
    // clang-format on
    for (const auto& [length, lengthCall, requestCall, reply, read, err] : cases) {
        SCOPED_TRACE(length);
        DdcBench bench;
        // clang-format off
        std::tie(bench.ddc.length, bench.ddc.lengthCall, bench.ddc.requestCall, bench.ddc.reply) = std::tie(length, lengthCall, requestCall, reply);
        // clang-format on
        EXPECT_EQ(nimbo::ReadCapabilitiesString(bench.ddc, bench.console, {0x42}, {}), read);
        EXPECT_EQ(bench.pc.Err(), err);
        EXPECT_EQ(read ? bench.ddc.requestedBytes : 0u, read ? length : 0u);
    }
    DdcBench cancelled;
    // clang-format off
    EXPECT_FALSE(nimbo::ReadCapabilitiesString(cancelled.ddc, cancelled.console, {0x42}, [] { return true; }));
    // clang-format on
    EXPECT_EQ(cancelled.ddc.capabilityQueries, 0) << "a cancel asks the monitor nothing";
}

// A D6 read at the edges of the MCCS power modes and a failed one; writes are
// shown end to end by the simulated runs.
TEST(ReadD6PowerState, MapsTheEdgesAndReportsFailures) {
    using S = nimbo::DisplayPowerState;
    // clang-format off
    const std::tuple<std::uint32_t, DdcCall, S, const char*> cases[] = {
        {0, kOk, S::Unknown, "[NimboPower] D6 read returned unknown raw value=0\n"},
        {2, kOk, S::Off, ""},
        {5, kOk, S::Off, ""},
        {6, kOk, S::Unknown, "[NimboPower] D6 read returned unknown raw value=6\n"},
        {1, {false, 31}, S::Unknown, "[NimboPower] D6 read failed, error=31\n"},
    };
    // clang-format on
    for (const auto& [raw, call, state, log] : cases) {
        SCOPED_TRACE(raw);
        ScriptedMonitorConfiguration api;
        api.raw = raw, api.vcpCall = call;
        nimbo::lastDdcNativeError = 0;
        std::ostringstream err;
        EXPECT_EQ(nimbo::ReadD6PowerState(api, {0x77}, err), state);
        EXPECT_EQ(api.asked, std::pair(std::uintptr_t{0x77}, std::uint8_t{0xD6}));
        EXPECT_EQ(err.str(), log);
        EXPECT_EQ(nimbo::lastDdcNativeError, call.error);
    }
}

}  // namespace
}  // namespace lenticor::testing
