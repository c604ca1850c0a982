#include "ddc/ddc_target.h"

#include "app/text.h"
#include "displays/display_test_machine.h"
#include "platform/monitor_configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace lenticor::testing {
namespace {

const std::string kNimboA = "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001";
const std::string kNimboB = "MONITOR\\KZV2B09\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0002";
const std::string kPanel = "MONITOR\\LPN0A81\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000";

nlohmann::json Screen(const std::string& hardwareId, int x, bool active = true) {
    auto output = Output(x, 0, 1920, 1080, {{"hardwareId", hardwareId}});
    output["active"] = active;
    return output;
}

std::wstring Wide(const std::string& text) {
    return Utf8ToWideStrict(text).value();
}

nimbo::NimboDdcResolution Resolve(DisplayTestMachine& pc, const std::wstring& id) {
    auto& p = pc.platform();
    return nimbo::ResolveNimboDdcTarget(p.monitors, p.displayDevices, p.console, id);
}

bool IsCurrent(DisplayTestMachine& pc, const nimbo::NimboDdcCandidate& candidate) {
    auto& p = pc.platform();
    return nimbo::IsDdcCandidateCurrent(p.monitors, p.displayDevices, p.console, candidate);
}

std::optional<std::string> Token(DisplayTestMachine& pc, const nimbo::NimboDdcCandidate& candidate,
                                 std::string_view prefix) {
    auto& p = pc.platform();
    return nimbo::BuildCapabilityToken(p.monitors, p.displayDevices, p.configManager, candidate,
                                       prefix);
}

TEST(ResolveNimboDdcTarget, ChoosesOneActiveNimboByIdOrByUniqueness) {
    struct Case {
        const char* situation;
        nlohmann::json outputs;
        std::string displayId;
        std::string chosen;  // empty: an error
        std::string errorCode = "";
    };
    // clang-format off
    const Case cases[] = {
        {"one Nimbo beside a panel", {Screen(kPanel, 0), Screen(kNimboA, 1920)}, "", kNimboA},
        {"two Nimbos without an id", {Screen(kNimboA, 0), Screen(kNimboB, 1920)}, "", "", "AMBIGUOUS_NIMBO_DISPLAY"},
        {"two Nimbos, the id in another case", {Screen(kNimboA, 0), Screen(kNimboB, 1920)}, "monitor\\kzv2b09\\{4D36E96E-E325-11CE-BFC1-08002BE10318}\\0002", kNimboB},
        {"the id of the panel", {Screen(kPanel, 0), Screen(kNimboA, 1920)}, kPanel, "", "DISPLAY_ID_NOT_FOUND"},
        {"only a panel", {Screen(kPanel, 0)}, "", "", "NO_NIMBO_DISPLAY"},
        {"a Nimbo off the desktop is not a target", {Screen(kPanel, 0), Screen(kNimboA, 1920, false)}, "", "", "NO_NIMBO_DISPLAY"},
    };
    // clang-format on
    for (const auto& c : cases) {
        DisplayTestMachine pc(OneAdapter(c.outputs));
        const auto resolution = Resolve(pc, Wide(c.displayId));
        EXPECT_EQ(resolution.explicitDisplayId, !c.displayId.empty()) << c.situation;
        EXPECT_EQ(resolution.errorCode, c.errorCode) << c.situation;
        EXPECT_EQ(resolution.candidate ? WideToUtf8(resolution.candidate->deviceId) : "", c.chosen)
            << c.situation;
    }
}

TEST(IsDdcCandidateCurrent, HoldsOnlyForTheSameNimboOnTheSameMonitorHandle) {
    DisplayTestMachine pc(OneAdapter({Screen(kPanel, 0), Screen(kNimboA, 1920)}));
    const auto nimbo = Resolve(pc, L"").candidate.value();
    EXPECT_TRUE(IsCurrent(pc, nimbo));
    auto moved = nimbo;
    moved.monitor.value += 1;
    EXPECT_FALSE(IsCurrent(pc, moved)) << "another handle";
    const nimbo::NimboDdcCandidate panel{Wide(kPanel), L"LPN0A81", nimbo.monitor};
    EXPECT_FALSE(IsCurrent(pc, panel)) << "not a Nimbo";
}

TEST(BuildCapabilityToken, NamesTheDeviceInstanceAndItsArrival) {
    DisplayTestMachine pc(OneAdapter({Screen(kPanel, 0), Screen(kNimboA, 1920)}));
    const auto nimbo = Resolve(pc, L"").candidate.value();
    const auto token = Token(pc, nimbo, "p1");
    ASSERT_TRUE(token);
    const auto lowerId = WideToUtf8(ToLowerWide(nimbo.deviceId));
    const std::string idHex = ToLowerHex(lowerId.data(), lowerId.size());
    EXPECT_TRUE(std::regex_match(*token, std::regex("p1:" + idHex + ":[0-9a-f]+:[0-9a-f]{16}")))
        << *token;
    auto elsewhere = nimbo;
    elsewhere.monitor.value += 1;
    EXPECT_FALSE(Token(pc, elsewhere, "p1")) << "a handle whose adapter does not list the device";
}

// A dxva2 that answers as scripted and counts what it was asked.
class ScriptedMonitorConfiguration final : public MonitorConfiguration {
  public:
    DdcCall GetNumberOfPhysicalMonitors(MonitorHandle, std::uint32_t& n) override {
        n = count;
        return countCall;
    }
    DdcCall GetPhysicalMonitors(MonitorHandle, std::span<PhysicalMonitor> monitors) override {
        if (acquireCall.ok) {
            monitors[0].handle = {0x42};
        }
        return acquireCall;
    }
    DdcCall DestroyPhysicalMonitors(std::span<const PhysicalMonitor> monitors) override {
        destroyed += static_cast<int>(monitors.size());
        return {true, 0};
    }
    DdcCall GetCapabilitiesStringLength(PhysicalMonitorHandle, std::uint32_t& n) override {
        ++capabilityQueries;
        n = length;
        return lengthCall;
    }
    DdcCall CapabilitiesRequestAndCapabilitiesReply(PhysicalMonitorHandle,
                                                    std::span<char> buffer) override {
        requestedBytes = buffer.size();
        std::copy_n(reply.begin(), std::min(reply.size(), buffer.size()), buffer.begin());
        return requestCall;
    }
    DdcCall GetVCPFeatureAndVCPFeatureReply(PhysicalMonitorHandle, std::uint8_t, std::uint32_t&,
                                            std::uint32_t&, std::uint32_t&) override {
        return {false, 1};
    }
    DdcCall SetVCPFeature(PhysicalMonitorHandle, std::uint8_t, std::uint32_t) override {
        return {false, 1};
    }

    std::uint32_t count = 1, length = 0;
    DdcCall countCall{true, 0}, acquireCall{true, 0}, lengthCall{true, 0}, requestCall{true, 0};
    std::string reply;
    int destroyed = 0, capabilityQueries = 0;
    std::size_t requestedBytes = 0;
};

// Monitors whose first GetMonitorInfoW fails, as for a display leaving mid-walk.
struct FirstInfoFails final : Monitors {
    explicit FirstInfoFails(Monitors& monitors) : real(monitors) {}
    bool EnumDisplayMonitors(const std::function<bool(MonitorHandle)>& visit) override {
        return real.EnumDisplayMonitors(visit);
    }
    bool QueryMonitorInfo(MonitorHandle monitor, MonitorInfo& info) override {
        return std::exchange(failed, true) && real.QueryMonitorInfo(monitor, info);
    }
    Monitors& real;
    bool failed = false;
};

struct DdcBench {
    DisplayTestMachine pc{OneAdapter({Screen(kNimboA, 0)})};
    ScriptedMonitorConfiguration ddc;
    Console& console = pc.platform().console;
};

TEST(ResolveNimboDdcTarget, AnUnreadableMonitorDoesNotEndTheWalk) {
    DisplayTestMachine pc{OneAdapter({Screen(kPanel, 0), Screen(kNimboA, 1920)})};
    FirstInfoFails monitors{pc.platform().monitors};
    const auto nimbo = nimbo::ResolveNimboDdcTarget(monitors, pc.platform().displayDevices,
                                                    pc.platform().console, L"")
                           .candidate;
    EXPECT_EQ(nimbo ? WideToUtf8(nimbo->deviceId) : "", kNimboA);
}

TEST(AcquireSinglePhysicalMonitor, OwnsExactlyOneMonitorAndDestroysItOnce) {
    struct Case {
        const char* situation;
        std::uint32_t count;
        DdcCall countCall;
        DdcCall acquireCall;
        bool cancelled;
        bool owned;
        std::string err;
    };
    // clang-format off
    const Case cases[] = {
        {"one monitor", 1, {true, 0}, {true, 0}, false, true, ""},
        {"two monitors on one handle", 2, {true, 0}, {true, 0}, false, false, "[NimboPower] expected one physical monitor, found 2\n"},
        {"count fails", 1, {false, 31}, {true, 0}, false, false, "[NimboPower] physical monitor count failed, error=31\n"},
        {"acquisition fails", 1, {true, 0}, {false, 3223725441u}, false, false, "[NimboPower] physical monitor acquisition failed, error=3223725441\n"},
        {"cancelled first", 1, {true, 0}, {true, 0}, true, false, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        DdcBench bench;
        bench.ddc.count = c.count;
        bench.ddc.countCall = c.countCall;
        bench.ddc.acquireCall = c.acquireCall;
        {
            auto held = nimbo::AcquireSinglePhysicalMonitor(
                bench.ddc, bench.console, {7}, "[NimboPower]", [&] { return c.cancelled; });
            EXPECT_EQ(held.owned(), c.owned) << c.situation;
            EXPECT_EQ(held.handle().value, c.owned ? 0x42u : 0u) << c.situation;
            auto moved = std::move(held);  // ownership moves, never doubles
        }
        EXPECT_EQ(bench.ddc.destroyed, c.owned ? 1 : 0) << c.situation;
        EXPECT_EQ(bench.pc.Err(), c.err) << c.situation;
    }
}

TEST(ReadCapabilitiesString, ReadsOneToSixtyFourKibibytesUpToTheFirstNul) {
    struct Case {
        const char* situation;
        std::uint32_t length;
        DdcCall lengthCall;
        DdcCall requestCall;
        std::string reply;
        std::optional<std::string> read;
        std::string err;
    };
    // clang-format off
    const Case cases[] = {
        {"a short string", 12, {true, 0}, {true, 0}, "vcp(D6(01 04))", "vcp(D6(01 04", ""},
        {"the reply ends early", 40, {true, 0}, {true, 0}, std::string("vcp(10)\0junk", 12), "vcp(10)", ""},
        {"the largest length", 65536, {true, 0}, {true, 0}, "x", "x", ""},
        {"length 0", 0, {true, 0}, {true, 0}, "", std::nullopt, "[NimboPower] capabilities length out of range, length=0\n"},
        {"length 65537", 65537, {true, 0}, {true, 0}, "", std::nullopt, "[NimboPower] capabilities length out of range, length=65537\n"},
        {"length unavailable", 0, {false, 3223725442u}, {true, 0}, "", std::nullopt, "[NimboPower] capabilities length unavailable, error=3223725442\n"},
        {"request fails", 5, {true, 0}, {false, 1460}, "", std::nullopt, "[NimboPower] capabilities request failed, error=1460\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        DdcBench bench;
        bench.ddc.length = c.length;
        bench.ddc.lengthCall = c.lengthCall;
        bench.ddc.requestCall = c.requestCall;
        bench.ddc.reply = c.reply;
        EXPECT_EQ(nimbo::ReadCapabilitiesString(bench.ddc, bench.console, {0x42}, {}), c.read)
            << c.situation;
        EXPECT_EQ(bench.pc.Err(), c.err) << c.situation;
        if (c.read) {
            EXPECT_EQ(bench.ddc.requestedBytes, c.length) << c.situation;
        }
    }
    DdcBench cancelled;
    EXPECT_FALSE(nimbo::ReadCapabilitiesString(cancelled.ddc, cancelled.console, {0x42},
                                               [] { return true; }));
    EXPECT_EQ(cancelled.ddc.capabilityQueries, 0) << "a cancel asks the monitor nothing";
}

}  // namespace
}  // namespace lenticor::testing
