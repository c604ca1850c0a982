// The power engine on one scripted Nimbo and a clock that only sleeps move;
// the validated acquisition on scripted operations; the sliced sleep and the
// D6 primitives on fake ports.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "app/text.h"
#include "ddc/power_command.h"
#include "ddc/power_request.h"
#include "platform/steady_clock.h"

namespace nimbo::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using A = DisplayPowerAction;
using S = DisplayPowerState;
using C = DisplayPowerCapability;
using O = DisplayPowerAcquireOutcome;
using Handle = lenticor::MonitorHandle;

const std::wstring kId = L"MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0003";
const std::string kToken = "p1:1";  // what the bus's monitor instance "1" is named by
const char* kNoNimbo = "no active KZV1A07/KZV2B09 Nimbo monitor found";
const char* kNotFound = "display ID is not an active KZV1A07/KZV2B09 Nimbo monitor";

// One Nimbo on a scripted bus. A D6 value takes effect `settle` after its first
// write (never when empty). `beforeResolve[n]` changes the bus just before
// the nth resolve.
struct Bus {
    Handle handle = 0x10;
    std::string instance = "1";
    C capability = C::Supported;
    S power = S::On;
    std::optional<milliseconds> settle = 0ms;
    bool listed = true, acquirable = true, writable = true, readable = true;
    bool acquireSeesCancel = true;
    std::function<bool(const Bus&)> cancelWhen = [](const Bus&) { return false; };
    std::map<int, std::function<void(Bus&)>> beforeResolve;

    milliseconds now{0};
    int resolves = 0, acquisitions = 0, capabilityReads = 0;
    std::vector<std::pair<int, Handle>> writes;  // ms since start, monitor
    std::optional<std::pair<S, milliseconds>> pending;

    bool Holds(const NimboDdcCandidate& c) const { return listed && c.monitor == handle; }
    bool Cancel() const { return acquireSeesCancel && cancelWhen(*this); }
    S Read() {
        if (pending && now >= pending->second)
            power = pending->first;
        return readable ? power : S::Unknown;
    }
    bool Send(std::uint32_t value, Handle to) {
        if (!writable) {
            lastDdcNativeError = 31;
            return false;
        }
        writes.emplace_back(static_cast<int>(now.count()), to);
        if (settle && (!pending || pending->first != PowerStateFromD6(value)))
            pending = {PowerStateFromD6(value), now + *settle};
        return true;
    }
    NimboDdcResolution Resolve(const std::wstring& id) {
        if (const auto change = beforeResolve.find(resolves++); change != beforeResolve.end())
            change->second(*this);
        if (listed && (id.empty() || lenticor::ToLowerWide(id) == lenticor::ToLowerWide(kId)))
            return {NimboDdcCandidate{kId, L"KZV1A07", handle}, !id.empty(), "", ""};
        return {std::nullopt, !id.empty(), id.empty() ? "NO_NIMBO_DISPLAY" : "DISPLAY_ID_NOT_FOUND",
                id.empty() ? kNoNimbo : kNotFound};
    }
    O Acquire(const NimboDdcCandidate& c, S* state, C* cap, std::uint32_t* value) {
        ++acquisitions;
        if (Cancel())
            return O::Cancelled;
        if (!Holds(c) || !acquirable)
            return O::NotAcquired;
        if (cap)
            *cap = (++capabilityReads, capability);
        if (value && !Send(*value, c.monitor))
            return O::WriteFailed;
        if (state)
            *state = Read();
        return O::Ok;
    }
    DisplayPowerIo Io() {
        return {
            .resolve = [this](const std::wstring& id) { return Resolve(id); },
            .acquire = [this](auto&&... a) { return Acquire(a...); },
            .now = [this] { return PowerTime(1000s + now); },
            .sleep = [this](milliseconds d) { now += d; },
            .cancelRequested = [this] { return cancelWhen(*this); },
            .acquireValidated =
                [this](const NimboDdcCandidate& c, S* state, C* cap, std::uint32_t* value,
                       const std::string& hint, std::optional<std::string>& token) {
                    // clang-format off
                    const PowerValidationOps ops{
                        .isCurrent = [this, c] { return Holds(c); },
                        .buildToken = [this] { return std::optional("p1:" + instance); },
                        .acquirePhysical = [this, c] { return ++acquisitions, Holds(c) && acquirable; },
                        .checkCapability = [this] { return ++capabilityReads, capability; },
                        .readState = [this](S& s) { s = Read(); },
                        .write = [this, c](std::uint32_t v) { return Send(v, c.monitor); },
                        .cancel = [this] { return Cancel(); }};
                    // clang-format on
                    return TryAcquireValidated(ops, state, cap, value, hint, token);
                },
        };
    }
};

using Setup = std::function<void(Bus&)>;

std::pair<int, nlohmann::json> Execute(Bus& bus, const DisplayPowerRequest& request) {
    std::ostringstream out;
    const int exit = NimboDisplayPowerCommand::Execute(request, bus.Io(), out);
    const std::string line = out.str();
    EXPECT_EQ(line.rfind(kPowerResultTag, 0), 0u) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    return {exit, nlohmann::json::parse(line.substr(std::strlen(kPowerResultTag)))};
}

const DisplayPowerRequest kStatus{};
const DisplayPowerRequest kStateOnly{.stateOnly = true};
const DisplayPowerRequest kOn{.action = A::On};
const DisplayPowerRequest kOnId{.action = A::On, .displayId = kId};
const DisplayPowerRequest kOff{.action = A::Off};
const DisplayPowerRequest kOffHint{.action = A::Off, .displayId = kId, .capabilityHint = kToken};
const Setup kAsleep = [](Bus& b) { b.power = S::Off; };
const Setup kNeverSettles = [](Bus& b) { b.power = S::Off, b.settle.reset(); };
const Setup kGone = [](Bus& b) { b.acquirable = false; };
const Setup kRefusing = [](Bus& b) { b.writable = false; };
const Setup kUnreadable = [](Bus& b) { b.readable = false; };
const Setup kNoD6 = [](Bus& b) { b.capability = C::Unsupported; };
const Setup kMute = [](Bus& b) { b.capability = C::Unavailable; };
const Setup kCancelled = [](Bus& b) { b.cancelWhen = [](const Bus&) { return true; }; };
const Setup kCancelAfterWrite = [](Bus& b) {
    b.cancelWhen = [](const Bus& bus) { return !bus.writes.empty(); };
};

const char* kAcquire = "could not acquire exactly one physical monitor";
const char* kRetain = "could not retain exactly one current physical monitor";
const char* kReadFailed = "could not read VCP D6 power state";
const char* kNoD6Message = "monitor capabilities do not advertise D6 values 01 and 04";
const char* kCancelMessage = "power request cancelled before any D6 write attempt";
const char* kConflict = "state-only requires a read without a capability hint";

struct Row {
    const char* situation;
    DisplayPowerRequest request;
    Setup setup = [](Bus&) {};
    const char* code = "";
    const char* message = "";
    int exit = 1;  // 0 when code is empty
    const char* state = "unknown";
    const char* requested = "";
    bool supported = false;
    const char* token = "";  // in capabilityCache
    std::size_t writes = 0;
    int capabilityReads = 0;
    bool resolved = true;                               // displayId is the monitor's
    std::vector<std::pair<int, Handle>> timeline = {};  // ms after the start, monitor
    int endsAtMs = -1, acquisitions = -1;               // -1: not looked at
};

// clang-format off
const Row kRows[] = {
    {.situation = "status", .request = kStatus, .state = "on", .supported = true, .token = kToken.c_str(), .capabilityReads = 1},
    {.situation = "status in standby, asked in lower case", .request = {.displayId = lenticor::ToLowerWide(kId)}, .setup = kAsleep, .state = "off", .supported = true, .token = kToken.c_str(), .capabilityReads = 1},
    {.situation = "status of a monitor without D6 01/04", .request = kStatus, .setup = kNoD6, .code = "DDC_POWER_UNSUPPORTED", .message = kNoD6Message, .state = "on", .capabilityReads = 1},
    {.situation = "status, capabilities unreadable", .request = kStatus, .setup = kMute, .code = "DDC_CAPABILITY_UNAVAILABLE", .message = "could not read monitor capabilities", .state = "on", .capabilityReads = 1},
    {.situation = "status, D6 unreadable: no token on a failure", .request = kStatus, .setup = kUnreadable, .code = "DDC_READ_FAILED", .message = kReadFailed, .supported = true, .capabilityReads = 1},
    {.situation = "status, no physical monitor", .request = kStatus, .setup = kGone, .code = "DDC_UNAVAILABLE", .message = kAcquire},
    {.situation = "status, the host's cancel line is not read", .request = kStatus, .setup = [](Bus& b) { kCancelled(b), b.acquireSeesCancel = false; }, .state = "on", .supported = true, .token = kToken.c_str(), .capabilityReads = 1},
    {.situation = "no Nimbo at all", .request = kStatus, .setup = [](Bus& b) { b.listed = false; }, .code = "NO_NIMBO_DISPLAY", .message = kNoNimbo, .resolved = false},
    {.situation = "an id that is no active Nimbo", .request = {.displayId = L"MONITOR\\DEL4321\\x"}, .code = "DISPLAY_ID_NOT_FOUND", .message = kNotFound, .resolved = false},
    {.situation = "an exception inside", .request = kOnId, .setup = [](Bus& b) { b.beforeResolve[0] = [](Bus&) { throw std::runtime_error("enumeration exploded"); }; }, .code = "NIMBO_POWER_EXCEPTION", .message = "enumeration exploded", .resolved = false},
    {.situation = "state only", .request = kStateOnly, .setup = kAsleep, .state = "off"},
    {.situation = "state only, replugged onto another HMONITOR after the read", .request = kStateOnly, .setup = [](Bus& b) { b.beforeResolve[1] = [](Bus& bus) { bus.handle = 0x20; }; }, .code = "DDC_UNAVAILABLE", .message = kRetain},
    {.situation = "state only, no physical monitor", .request = kStateOnly, .setup = kGone, .code = "DDC_UNAVAILABLE", .message = kRetain},
    {.situation = "state only, D6 unreadable", .request = kStateOnly, .setup = kUnreadable, .code = "DDC_READ_FAILED", .message = kReadFailed},
    {.situation = "state only with on", .request = {.action = A::On, .stateOnly = true}, .code = "INVALID_ARGUMENT", .message = kConflict, .exit = 2, .resolved = false},
    {.situation = "state only with a hint", .request = {.displayId = kId, .capabilityHint = kToken, .stateOnly = true}, .code = "INVALID_ARGUMENT", .message = kConflict, .exit = 2},
    {.situation = "on by id: no capabilities read", .request = kOnId, .setup = kAsleep, .state = "on", .requested = "on", .writes = 1},
    {.situation = "on without id validates first", .request = kOn, .setup = kAsleep, .state = "on", .requested = "on", .supported = true, .writes = 1, .capabilityReads = 1},
    {.situation = "on without id, no D6 01/04", .request = kOn, .setup = kNoD6, .code = "DDC_POWER_UNSUPPORTED", .message = kNoD6Message, .capabilityReads = 1},
    {.situation = "on without id, capabilities unreadable", .request = kOn, .setup = kMute, .code = "DDC_CAPABILITY_UNAVAILABLE", .message = "capability validation is required before this write", .requested = "on", .capabilityReads = 1},
    {.situation = "on without id, no physical monitor", .request = kOn, .setup = kGone, .code = "DDC_UNAVAILABLE", .message = kAcquire},
    {.situation = "on, every write refused", .request = kOnId, .setup = kRefusing, .code = "DDC_WRITE_FAILED", .message = "SetVCPFeature failed", .requested = "on"},
    {.situation = "on, never reads on: re-sends 1.5 s apart, two at most, until 15 s", .request = kOnId, .setup = kNeverSettles, .requested = "on", .writes = 3, .timeline = {{0, 0x10}, {1500, 0x10}, {3000, 0x10}}, .endsAtMs = 15000, .acquisitions = 23},
    {.situation = "on, answers 2 s after the first write", .request = kOnId, .setup = [](Bus& b) { b.power = S::Off, b.settle = 2000ms; }, .state = "on", .requested = "on", .writes = 2, .timeline = {{0, 0x10}, {1500, 0x10}}, .endsAtMs = 2250, .acquisitions = 6},
    {.situation = "on, re-enumerated onto another HMONITOR while waking", .request = kOnId, .setup = [](Bus& b) { kNeverSettles(b), b.beforeResolve[1] = [](Bus& bus) { bus.handle = 0x20; }; }, .requested = "on", .writes = 3, .timeline = {{0, 0x10}, {1500, 0x20}, {3000, 0x20}}},
    {.situation = "on, never found: one attempt per 750 ms round until 15 s", .request = kOnId, .setup = kGone, .code = "DDC_UNAVAILABLE", .message = kAcquire, .requested = "on", .endsAtMs = 15000, .acquisitions = 21},
    {.situation = "on, cancelled before anything", .request = kOnId, .setup = kCancelled, .code = "NIMBO_POWER_CANCELLED", .message = kCancelMessage, .requested = "on"},
    {.situation = "on, cancelled while the monitor is away", .request = kOnId, .setup = [](Bus& b) { kGone(b), b.cancelWhen = [](const Bus& bus) { return bus.now >= 2s; }; }, .code = "NIMBO_POWER_CANCELLED", .message = kCancelMessage, .requested = "on"},
    {.situation = "on, cancel after the write", .request = kOnId, .setup = [](Bus& b) { kNeverSettles(b), kCancelAfterWrite(b); }, .requested = "on", .writes = 1},
    {.situation = "off", .request = kOff, .setup = [](Bus& b) { b.settle = 600ms; }, .state = "off", .requested = "off", .supported = true, .token = kToken.c_str(), .writes = 1, .capabilityReads = 1, .endsAtMs = 750, .acquisitions = 4},
    {.situation = "off with the token of this instance", .request = kOffHint, .state = "off", .requested = "off", .supported = true, .writes = 1},
    {.situation = "off with the token of an earlier instance", .request = kOffHint, .setup = [](Bus& b) { b.instance = "2"; }, .state = "off", .requested = "off", .supported = true, .token = "p1:2", .writes = 1, .capabilityReads = 1},
    {.situation = "off with a token but no id", .request = {.action = A::Off, .capabilityHint = kToken}, .state = "off", .requested = "off", .supported = true, .token = kToken.c_str(), .writes = 1, .capabilityReads = 1},
    {.situation = "off never reads back off in 12 rounds of 250 ms", .request = kOffHint, .setup = [](Bus& b) { b.settle.reset(); }, .requested = "off", .supported = true, .writes = 1, .endsAtMs = 3000, .acquisitions = 13},
    {.situation = "off refused", .request = kOff, .setup = kRefusing, .code = "DDC_WRITE_FAILED", .message = "SetVCPFeature failed", .requested = "off", .supported = true, .capabilityReads = 1},
    {.situation = "off, no D6 01/04", .request = kOff, .setup = kNoD6, .code = "DDC_POWER_UNSUPPORTED", .message = kNoD6Message, .capabilityReads = 1},
    {.situation = "off, capabilities unreadable", .request = kOff, .setup = kMute, .code = "DDC_CAPABILITY_UNAVAILABLE", .message = "capability validation is required before this write", .requested = "off", .capabilityReads = 1},
    {.situation = "off, no physical monitor", .request = kOffHint, .setup = kGone, .code = "DDC_UNAVAILABLE", .message = kAcquire},
    {.situation = "off, cancelled once resolved", .request = kOff, .setup = [](Bus& b) { b.cancelWhen = [](const Bus& bus) { return bus.resolves > 0; }; }, .code = "NIMBO_POWER_CANCELLED", .message = kCancelMessage, .requested = "off"},
    {.situation = "off, cancel after the write", .request = kOffHint, .setup = kCancelAfterWrite, .requested = "off", .supported = true, .writes = 1},
};
// clang-format on

TEST(PowerEngine, ReportsEachSituation) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.situation);
        Bus bus;
        row.setup(bus);
        const auto [exit, line] = Execute(bus, row.request);
        EXPECT_EQ(exit, *row.code ? row.exit : 0);
        EXPECT_EQ(line["success"], !*row.code);
        EXPECT_EQ(line.value("errorCode", ""), row.code);
        EXPECT_EQ(line.value("errorMessage", ""), row.message);
        EXPECT_EQ(line["state"], row.state);
        EXPECT_EQ(line.value("requestedState", ""), row.requested);
        EXPECT_EQ(line["supported"], row.supported);
        EXPECT_EQ(line.value("/capabilityCache/token"_json_pointer, ""), row.token);
        EXPECT_EQ(line["displayId"], row.resolved ? lenticor::WideToUtf8(kId) : "");
        // Only the refused writes leave a native error; the engine forgets earlier rows'.
        EXPECT_EQ(line.value("nativeError", 0u),
                  std::string(row.message) == "SetVCPFeature failed" ? 31u : 0u);
        EXPECT_EQ(bus.writes.size(), row.writes);
        if (!row.timeline.empty()) {
            EXPECT_EQ(bus.writes, row.timeline);
        }
        EXPECT_EQ(row.endsAtMs < 0 ? -1 : bus.now.count(), row.endsAtMs);
        EXPECT_EQ(row.acquisitions < 0 ? -1 : bus.acquisitions, row.acquisitions);
        EXPECT_EQ(bus.capabilityReads, row.capabilityReads);
    }
}

TEST(PowerEngine, EveryFailureItReportsHasARow) {
    const std::set<std::pair<std::string, std::string>> catalogue = {
        {"INVALID_ARGUMENT", kConflict},
        {"NO_NIMBO_DISPLAY", kNoNimbo},
        {"DISPLAY_ID_NOT_FOUND", kNotFound},
        {"DDC_UNAVAILABLE", kAcquire},
        {"DDC_UNAVAILABLE", kRetain},
        {"DDC_READ_FAILED", kReadFailed},
        {"DDC_WRITE_FAILED", "SetVCPFeature failed"},
        {"DDC_POWER_UNSUPPORTED", kNoD6Message},
        {"DDC_CAPABILITY_UNAVAILABLE", "could not read monitor capabilities"},
        {"DDC_CAPABILITY_UNAVAILABLE", "capability validation is required before this write"},
        {"NIMBO_POWER_CANCELLED", kCancelMessage},
        {"NIMBO_POWER_EXCEPTION", "enumeration exploded"},
    };
    std::set<std::pair<std::string, std::string>> covered;
    for (const Row& row : kRows) {
        if (*row.code)
            covered.emplace(row.code, row.message);
    }
    EXPECT_EQ(covered, catalogue);
}

struct Validation {
    const char* situation;
    std::vector<std::optional<std::string>> tokens;  // A, B, C, then the fallback's C
    std::uint32_t write = 0;                         // 0: a read
    std::string hint = "";
    C capability = C::Supported;
    O outcome = O::Ok;
    int capabilityReads = 1;
    std::string issued = "";
    std::vector<bool> current = {};  // isCurrent answers in turn; true when run out
    bool acquires = true, writes = true;
    int cancelFrom = 0;  // the cancel poll answers true from this poll on; 0 never
};

struct Seen {
    O outcome;
    int capabilityReads = 0, reads = 0, writes = 0, polls = 0;
    std::optional<std::string> issued = "left over";
};

Seen Validate(const Validation& row) {
    Seen seen;
    std::size_t tokens = 0, currents = 0;
    // clang-format off
    const PowerValidationOps ops{
        .isCurrent = [&] { return currents >= row.current.size() || row.current[currents++]; },
        .buildToken = [&] { return tokens < row.tokens.size() ? row.tokens[tokens++] : std::nullopt; },
        .acquirePhysical = [&] { return row.acquires; },
        .checkCapability = [&] { return ++seen.capabilityReads, row.capability; },
        .readState = [&](S& s) { s = (++seen.reads, S::Off); },
        .write = [&](std::uint32_t) { return ++seen.writes, row.writes; },
        .cancel = [&] { return ++seen.polls, row.cancelFrom && seen.polls >= row.cancelFrom; }};
    // clang-format on
    S state = S::Unknown;
    C capability = C::Unsupported;
    std::uint32_t value = row.write;
    seen.outcome = TryAcquireValidated(ops, value ? nullptr : &state, &capability,
                                       value ? &value : nullptr, row.hint, seen.issued);
    EXPECT_EQ(state, seen.reads ? S::Off : S::Unknown);
    return seen;
}

const std::string kT = "p1:aa", kU = "p1:bb";
const std::optional<std::string> kNone;

TEST(TryAcquireValidated, ProvesTheSameInstanceBeforeWriting) {
    // clang-format off
    const Validation rows[] = {
        {.situation = "status, A = B = C", .tokens = {kT, kT, kT}, .issued = kT},
        {.situation = "status, C missing", .tokens = {kT, kT, kNone}},
        {.situation = "status, A missing", .tokens = {kNone, kT, kT}},
        {.situation = "status, capabilities without D6", .tokens = {kT, kT, kT}, .capability = C::Unsupported},
        {.situation = "replugged between A and B", .tokens = {kT, kU}, .outcome = O::NotAcquired, .capabilityReads = 0},
        {.situation = "replugged between B and C", .tokens = {kT, kT, kU}, .outcome = O::NotAcquired},
        {.situation = "off, hint = B: capabilities not read", .tokens = {kT, kT, kT}, .write = 4, .hint = kT, .capabilityReads = 0},
        {.situation = "off, stale hint", .tokens = {kT, kT, kT}, .write = 4, .hint = kU, .issued = kT},
        {.situation = "off, hint = B with A missing", .tokens = {kNone, kT, kT}, .write = 4, .hint = kT},
        {.situation = "on never uses a hint", .tokens = {kT, kT, kT}, .write = 1, .hint = kT, .issued = kT},
        {.situation = "off, hint = B, C missing: falls back", .tokens = {kT, kT, kNone, kT}, .write = 4, .hint = kT},
        {.situation = "off, hint = B, C missing, fallback without D6", .tokens = {kT, kT, kNone}, .write = 4, .hint = kT, .capability = C::Unsupported, .outcome = O::CapabilityNotConfirmed},
        {.situation = "off, hint = B, C missing, fallback C differs", .tokens = {kT, kT, kNone, kU}, .write = 4, .hint = kT, .outcome = O::NotAcquired},
        {.situation = "off, hint = B, C differs", .tokens = {kT, kT, kU}, .write = 4, .hint = kT, .outcome = O::NotAcquired, .capabilityReads = 0},
        {.situation = "off, capabilities unreadable", .tokens = {kT, kT, kT}, .write = 4, .capability = C::Unavailable, .outcome = O::CapabilityNotConfirmed},
        {.situation = "off refused after the token was issued", .tokens = {kT, kT, kT}, .write = 4, .outcome = O::WriteFailed, .issued = kT, .writes = false},
        {.situation = "not current before acquiring", .tokens = {kT}, .outcome = O::NotAcquired, .capabilityReads = 0, .current = {false}},
        {.situation = "not current once acquired", .tokens = {kT}, .outcome = O::NotAcquired, .capabilityReads = 0, .current = {true, false}},
        {.situation = "not current after the capabilities", .tokens = {kT, kT}, .outcome = O::NotAcquired, .current = {true, true, false}},
        {.situation = "no physical monitor", .tokens = {kT}, .outcome = O::NotAcquired, .capabilityReads = 0, .acquires = false},
    };
    // clang-format on
    for (const Validation& row : rows) {
        SCOPED_TRACE(row.situation);
        const Seen seen = Validate(row);
        EXPECT_EQ(seen.outcome, row.outcome);
        EXPECT_EQ(seen.capabilityReads, row.capabilityReads);
        EXPECT_EQ(seen.issued.value_or(""), row.issued);
        const bool finished = row.outcome == O::Ok || row.outcome == O::WriteFailed;
        EXPECT_EQ(seen.writes, finished && row.write ? 1 : 0);
        EXPECT_EQ(seen.reads, finished && !row.write ? 1 : 0);
    }
}

TEST(TryAcquireValidated, ACancelSeenBeforeTheWriteWritesNothing) {
    for (const std::uint32_t write : {0u, 4u}) {
        int readsSkipped = 0;
        for (int from = 1; from < 12; ++from) {
            SCOPED_TRACE(testing::Message() << "write " << write << ", cancel from poll " << from);
            const Seen seen = Validate(
                {.situation = "", .tokens = {kT, kT, kT}, .write = write, .cancelFrom = from});
            if (seen.polls < from) {  // never saw it
                EXPECT_EQ(seen.outcome, O::Ok);
                EXPECT_EQ(seen.writes + seen.reads, 1);
                continue;
            }
            EXPECT_EQ(seen.writes + seen.reads, 0);
            readsSkipped += seen.outcome == O::Ok;
            EXPECT_TRUE(seen.outcome == O::Cancelled || !write);
        }
        EXPECT_EQ(readsSkipped, write ? 0 : 1);  // a cancel after the checks only skips the read
    }
}

class FakeSteadyClock final : public lenticor::SteadyClock {
  public:
    std::int64_t NowNanoseconds() override { return now; }
    void SleepUntil(std::int64_t instant) override {
        slices.push_back(instant - now);
        now = instant + overshoot;
    }
    std::int64_t now = 5'000'000'123, overshoot = 0;
    std::vector<std::int64_t> slices;
};

TEST(SleepUnlessCancelled, SleepsInSlicesAndStopsWithinOneAfterACancel) {
    struct Case {
        const char* situation;
        int ms;
        std::int64_t overshoot = 0, cancelAfter = -1;  // ns after the start
        std::vector<std::int64_t> slices;              // ns
    };
    const std::int64_t kMs = 1'000'000;
    // clang-format off
    const Case cases[] = {
        {.situation = "whole slices", .ms = 30, .slices = {10 * kMs, 10 * kMs, 10 * kMs}},
        {.situation = "a short last slice", .ms = 23, .slices = {10 * kMs, 10 * kMs, 3 * kMs}},
        {.situation = "oversleeping: the rest is rounded up to a whole ms", .ms = 15, .overshoot = 300'000, .slices = {10 * kMs, 5 * kMs}},
        {.situation = "a cancel ends the wait after its slice", .ms = 1000, .cancelAfter = 37 * kMs, .slices = {10 * kMs, 10 * kMs, 10 * kMs, 10 * kMs}},
        {.situation = "a cancel already seen", .ms = 1000, .cancelAfter = 0, .slices = {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        FakeSteadyClock clock;
        clock.overshoot = c.overshoot;
        const std::int64_t start = clock.now;
        SleepUnlessCancelled(clock, milliseconds(c.ms), [&] {
            return c.cancelAfter >= 0 && clock.now - start >= c.cancelAfter;
        });
        EXPECT_EQ(clock.slices, c.slices);
    }
}

// clang-format off
class FakeMonitorConfiguration final : public lenticor::MonitorConfiguration {
  public:
    using Call = lenticor::DdcCall;
    using Physical = lenticor::PhysicalMonitorHandle;
    Call GetNumberOfPhysicalMonitors(Handle, std::uint32_t&) override { return {}; }
    Call GetPhysicalMonitors(Handle, std::span<lenticor::PhysicalMonitor>) override { return {}; }
    Call DestroyPhysicalMonitors(std::span<const lenticor::PhysicalMonitor>) override { return {}; }
    Call GetCapabilitiesStringLength(Physical, std::uint32_t&) override { return {}; }
    Call CapabilitiesRequestAndCapabilitiesReply(Physical, std::span<char>) override { return {}; }
    Call GetVCPFeatureAndVCPFeatureReply(Physical monitor, std::uint8_t code, std::uint32_t& type,
                                         std::uint32_t& current, std::uint32_t& maximum) override {
        calls.push_back({monitor, code}), type = 0, current = raw, maximum = 5;
        return call;
    }
    Call SetVCPFeature(Physical monitor, std::uint8_t code, std::uint32_t value) override {
        calls.push_back({monitor, code + value * 256});
        return call;
    }
    std::uint32_t raw = 0;
    Call call{true, 0};
    std::vector<std::pair<Physical, std::uint32_t>> calls;
};
// clang-format on

TEST(D6Primitives, MapRawValuesAndReportFailures) {
    struct Case {
        const char* situation;
        std::int64_t write;  // -1: a read
        std::uint32_t raw;
        lenticor::DdcCall call;
        int answer;  // the state, or whether the write went through
        const char* err;
    };
    // clang-format off
    const Case cases[] = {
        {.situation = "on", .write = -1, .raw = 1, .call = {true, 0}, .answer = int(S::On), .err = ""},
        {.situation = "standby", .write = -1, .raw = 2, .call = {true, 0}, .answer = int(S::Off), .err = ""},
        {.situation = "power off", .write = -1, .raw = 5, .call = {true, 0}, .answer = int(S::Off), .err = ""},
        {.situation = "a value outside MCCS", .write = -1, .raw = 7, .call = {true, 0}, .answer = int(S::Unknown), .err = "[NimboPower] D6 read returned unknown raw value=7\n"},
        {.situation = "zero", .write = -1, .raw = 0, .call = {true, 0}, .answer = int(S::Unknown), .err = "[NimboPower] D6 read returned unknown raw value=0\n"},
        {.situation = "a failed read", .write = -1, .raw = 1, .call = {false, 31}, .answer = int(S::Unknown), .err = "[NimboPower] D6 read failed, error=31\n"},
        {.situation = "a write", .write = 4, .raw = 0, .call = {true, 0}, .answer = 1, .err = ""},
        {.situation = "a refused write", .write = 1, .raw = 0, .call = {false, 4294967295u}, .answer = 0, .err = "[NimboPower] D6 write failed, error=4294967295\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        FakeMonitorConfiguration api;
        api.raw = c.raw;
        api.call = c.call;
        lastDdcNativeError = 0;
        std::ostringstream err;
        const int answer = c.write < 0
                               ? int(ReadD6PowerState(api, 0x77, err))
                               : int(WriteD6PowerValue(api, 0x77, std::uint32_t(c.write), err));
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(err.str(), c.err);
        EXPECT_EQ(lastDdcNativeError, c.call.error);
        const std::uint32_t code = c.write < 0 ? 0xD6 : 0xD6 + std::uint32_t(c.write) * 256;
        EXPECT_EQ(api.calls, (decltype(api.calls){{0x77, code}}));
    }
}

}  // namespace
}  // namespace nimbo::test
