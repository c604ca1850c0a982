// The power engine on one scripted Nimbo and a clock that only sleeps move;
// the validated acquisition on scripted operations; the sliced sleep on a fake
// clock.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>

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
const std::string kToken = "p1:1";  // the capability token the bus's monitor is named by
const char* kNoNimboMessage = "no active KZV1A07/KZV2B09 Nimbo monitor found";
const char* kNotFoundMessage = "display ID is not an active KZV1A07/KZV2B09 Nimbo monitor";

// One Nimbo on a scripted bus. A D6 write takes effect at once when the monitor
// `settles`. `beforeResolve[n]` changes the bus just before the nth resolve.
struct Bus {
    Handle handle{0x10};
    C capability = C::Supported;
    S power = S::On;
    bool settles = true, listed = true, acquirable = true, writable = true, readable = true;
    bool acquireSeesCancel = true;
    std::function<bool(const Bus&)> cancelWhen = [](const Bus&) { return false; };
    std::map<int, std::function<void(Bus&)>> beforeResolve;

    milliseconds now{0};
    int resolves = 0, acquisitions = 0, capabilityReads = 0;
    std::vector<std::pair<int, Handle>> writes;  // ms since start, monitor

    bool Holds(const NimboDdcCandidate& c) const { return listed && c.monitor == handle; }
    bool Cancel() const { return acquireSeesCancel && cancelWhen(*this); }
    S Read() const { return readable ? power : S::Unknown; }
    bool Send(std::uint32_t value, Handle to) {
        if (!writable)
            return lastDdcNativeError = 31, false;
        writes.emplace_back(static_cast<int>(now.count()), to);
        power = settles ? PowerStateFromD6(value) : power;
        return true;
    }
    NimboDdcResolution Resolve(const std::wstring& id) {
        if (const auto change = beforeResolve.find(resolves++); change != beforeResolve.end())
            change->second(*this);
        if (listed && (id.empty() || lenticor::ToLowerWide(id) == lenticor::ToLowerWide(kId)))
            return {NimboDdcCandidate{kId, L"KZV1A07", handle}, !id.empty(), "", ""};
        return {std::nullopt, !id.empty(), id.empty() ? "NO_NIMBO_DISPLAY" : "DISPLAY_ID_NOT_FOUND",
                id.empty() ? kNoNimboMessage : kNotFoundMessage};
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
    PowerValidationOps Ops(const NimboDdcCandidate& c) {
        // clang-format off
        return {.isCurrent = [this, c] { return Holds(c); },
                .buildToken = [] { return std::optional(kToken); },
                .acquirePhysical = [this, c] { return ++acquisitions, Holds(c) && acquirable; },
                .checkCapability = [this] { return ++capabilityReads, capability; },
                .readState = [this](S& s) { s = Read(); },
                .write = [this, c](std::uint32_t v) { return Send(v, c.monitor); },
                .cancel = [this] { return Cancel(); }};
        // clang-format on
    }
    DisplayPowerIo Io() {
        // clang-format off
        return {.resolve = [this](const std::wstring& id) { return Resolve(id); },
                .acquire = [this](auto&&... a) { return Acquire(a...); },
                .now = [this] { return PowerTime(1000s + now); },
                .sleep = [this](milliseconds d) { now += d; },
                .cancelRequested = [this] { return cancelWhen(*this); },
                .acquireValidated = [this](const NimboDdcCandidate& c, auto&&... rest) { return TryAcquireValidated(Ops(c), rest...); }};
        // clang-format on
    }
};

using Setup = std::function<void(Bus&)>;

// The result line in short: "state/requested", then what else it carries, then
// what the bus saw.
std::string Describe(const nlohmann::json& line, const Bus& bus) {
    std::string text = line["state"].get<std::string>() + "/" + line.value("requestedState", "-");
    if (line["supported"])
        text += " supported";
    if (line.contains("capabilityCache"))
        text += " token=" + line["capabilityCache"]["token"].get<std::string>();
    if (line.contains("nativeError"))
        text += " native=" + line["nativeError"].dump();
    if (!bus.writes.empty())
        text += " writes=" + std::to_string(bus.writes.size());
    if (bus.capabilityReads)
        text += " caps=" + std::to_string(bus.capabilityReads);
    return text;
}

const DisplayPowerRequest kOnId{.action = A::On, .displayId = kId};
const DisplayPowerRequest kOff{.action = A::Off};
const DisplayPowerRequest kOffHint{.action = A::Off, .displayId = kId, .capabilityHint = kToken};
const Setup kAsleep = [](Bus& b) { b.power = S::Off; };
const Setup kGone = [](Bus& b) { b.acquirable = false; };
const Setup kReplugAtSecondResolve = [](Bus& b) {
    b.beforeResolve[1] = [](Bus& bus) { bus.handle = {0x20}; };
};

// Every failure the engine reports, by code and message.
using Failure = std::pair<std::string, std::string>;
// clang-format off
const Failure kSucceeds, kNoNimbo{"NO_NIMBO_DISPLAY", kNoNimboMessage}, kNotFound{"DISPLAY_ID_NOT_FOUND", kNotFoundMessage},
    kAcquire{"DDC_UNAVAILABLE", "could not acquire exactly one physical monitor"}, kWriteFailed{"DDC_WRITE_FAILED", "SetVCPFeature failed"},
    kRetain{"DDC_UNAVAILABLE", "could not retain exactly one current physical monitor"},
    kReadFailed{"DDC_READ_FAILED", "could not read VCP D6 power state"}, kException{"NIMBO_POWER_EXCEPTION", "enumeration exploded"},
    kNoD6{"DDC_POWER_UNSUPPORTED", "monitor capabilities do not advertise D6 values 01 and 04"},
    kNoCaps{"DDC_CAPABILITY_UNAVAILABLE", "could not read monitor capabilities"},
    kCapsFirst{"DDC_CAPABILITY_UNAVAILABLE", "capability validation is required before this write"},
    kCancelled{"NIMBO_POWER_CANCELLED", "power request cancelled before any D6 write attempt"},
    kConflict{"INVALID_ARGUMENT", "state-only requires a read without a capability hint"};
// clang-format on

struct Row {
    const char* situation;
    DisplayPowerRequest request;
    Setup setup = [](Bus&) {};
    Failure failure = kSucceeds;
    std::string outcome;                                // Describe()
    bool resolved = true;                               // displayId is the monitor's
    std::vector<std::pair<int, Handle>> timeline = {};  // ms after the start, monitor
    int endsAtMs = -1, acquisitions = -1;               // -1: not looked at
};

const std::string kTokenFields = " supported token=" + kToken;

// clang-format off
const Row kRows[] = {
    {.situation = "status", .request = {}, .outcome = "on/-" + kTokenFields + " caps=1"},
    {.situation = "status of a monitor without D6 01/04", .request = {}, .setup = [](Bus& b) { b.capability = C::Unsupported; }, .failure = kNoD6, .outcome = "on/- caps=1"},
    {.situation = "status, capabilities unreadable", .request = {}, .setup = [](Bus& b) { b.capability = C::Unavailable; }, .failure = kNoCaps, .outcome = "on/- caps=1"},
    {.situation = "status, D6 unreadable: no token on a failure", .request = {}, .setup = [](Bus& b) { b.readable = false; }, .failure = kReadFailed, .outcome = "unknown/- supported caps=1"},
    {.situation = "status, the host's cancel line is not read", .request = {}, .setup = [](Bus& b) { b.cancelWhen = [](const Bus&) { return true; }, b.acquireSeesCancel = false; }, .outcome = "on/-" + kTokenFields + " caps=1"},
    {.situation = "no Nimbo at all", .request = {}, .setup = [](Bus& b) { b.listed = false; }, .failure = kNoNimbo, .outcome = "unknown/-", .resolved = false},
    {.situation = "an exception inside", .request = kOnId, .setup = [](Bus& b) { b.beforeResolve[0] = [](Bus&) { throw std::runtime_error("enumeration exploded"); }; }, .failure = kException, .outcome = "unknown/-", .resolved = false},
    {.situation = "state only, in standby, asked in lower case", .request = {.displayId = lenticor::ToLowerWide(kId), .stateOnly = true}, .setup = kAsleep, .outcome = "off/-"},
    {.situation = "state only, replugged onto another HMONITOR after the read", .request = {.stateOnly = true}, .setup = kReplugAtSecondResolve, .failure = kRetain, .outcome = "unknown/-"},
    {.situation = "state only, D6 unreadable", .request = {.stateOnly = true}, .setup = [](Bus& b) { b.readable = false; }, .failure = kReadFailed, .outcome = "unknown/-"},
    {.situation = "state only with on", .request = {.action = A::On, .stateOnly = true}, .failure = kConflict, .outcome = "unknown/-", .resolved = false},
    {.situation = "state only with a hint", .request = {.displayId = kId, .capabilityHint = kToken, .stateOnly = true}, .failure = kConflict, .outcome = "unknown/-"},
    {.situation = "on by id: no capabilities read", .request = kOnId, .setup = kAsleep, .outcome = "on/on writes=1"},
    {.situation = "on without id validates first", .request = {.action = A::On}, .setup = kAsleep, .outcome = "on/on supported writes=1 caps=1"},
    {.situation = "on, every write refused", .request = kOnId, .setup = [](Bus& b) { b.writable = false; }, .failure = kWriteFailed, .outcome = "unknown/on native=31"},
    {.situation = "on, never reads on, replugged while waking: re-sends 1.5 s apart, two at most, until 15 s", .request = kOnId, .setup = [](Bus& b) { b.power = S::Off, b.settles = false, kReplugAtSecondResolve(b); }, .outcome = "unknown/on writes=3", .timeline = {{0, {0x10}}, {1500, {0x20}}, {3000, {0x20}}}, .endsAtMs = 15000, .acquisitions = 23},
    {.situation = "on, never found: one attempt per 750 ms round until 15 s", .request = kOnId, .setup = kGone, .failure = kAcquire, .outcome = "unknown/on", .endsAtMs = 15000, .acquisitions = 21},
    {.situation = "on, cancelled while the monitor is away", .request = kOnId, .setup = [](Bus& b) { kGone(b), b.cancelWhen = [](const Bus& bus) { return bus.now >= 2s; }; }, .failure = kCancelled, .outcome = "unknown/on"},
    {.situation = "off", .request = kOff, .outcome = "off/off" + kTokenFields + " writes=1 caps=1", .endsAtMs = 250, .acquisitions = 2},
    {.situation = "off with a token but no id", .request = {.action = A::Off, .capabilityHint = kToken}, .outcome = "off/off" + kTokenFields + " writes=1 caps=1"},
    {.situation = "off never reads back off in 12 rounds of 250 ms", .request = kOffHint, .setup = [](Bus& b) { b.settles = false; }, .outcome = "unknown/off supported writes=1", .endsAtMs = 3000, .acquisitions = 13},
    {.situation = "off, capabilities unreadable", .request = kOff, .setup = [](Bus& b) { b.capability = C::Unavailable; }, .failure = kCapsFirst, .outcome = "unknown/off caps=1"},
    {.situation = "off, no physical monitor", .request = kOffHint, .setup = kGone, .failure = kAcquire, .outcome = "unknown/-"},
    {.situation = "off, cancelled once resolved", .request = kOff, .setup = [](Bus& b) { b.cancelWhen = [](const Bus& bus) { return bus.resolves > 0; }; }, .failure = kCancelled, .outcome = "unknown/off"},
    {.situation = "off, cancel after the write", .request = kOffHint, .setup = [](Bus& b) { b.cancelWhen = [](const Bus& bus) { return !bus.writes.empty(); }; }, .outcome = "unknown/off supported writes=1"},
};
// clang-format on

TEST(PowerEngine, ReportsEachSituationAndEveryFailure) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.situation);
        Bus bus;
        row.setup(bus);
        std::ostringstream out;
        const int exit = NimboDisplayPowerCommand::Execute(row.request, bus.Io(), out);
        const auto line = nlohmann::json::parse(out.str().substr(std::strlen(kPowerResultTag)));
        const Failure failure{line.value("errorCode", ""), line.value("errorMessage", "")};
        EXPECT_EQ(failure, row.failure);
        EXPECT_EQ(exit, row.failure == kSucceeds ? 0 : row.failure == kConflict ? 2 : 1);
        EXPECT_EQ(line["displayId"], row.resolved ? lenticor::WideToUtf8(kId) : "");
        EXPECT_EQ(Describe(line, bus), row.outcome);
        EXPECT_EQ(row.timeline.empty() ? row.timeline : bus.writes, row.timeline);
        EXPECT_EQ(row.endsAtMs < 0 ? -1 : bus.now.count(), row.endsAtMs);
        EXPECT_EQ(row.acquisitions < 0 ? -1 : bus.acquisitions, row.acquisitions);
    }
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
    bool writes = true;
    int cancelFrom = 0;  // the cancel poll answers true from this poll on; 0 never
};

struct Seen {
    O outcome;
    int capabilityReads = 0, reads = 0, writes = 0, polls = 0;
    std::optional<std::string> issued = "left over";
};

Seen Validate(const Validation& row) {
    Seen seen;
    // A write with a token built after the last cancel poll counts 100.
    std::size_t tokens = 0, currents = 0, tokensAtPoll = 0;
    // clang-format off
    const PowerValidationOps ops{
        .isCurrent = [&] { return currents >= row.current.size() || row.current[currents++]; },
        .buildToken = [&] { return tokens < row.tokens.size() ? row.tokens[tokens++] : std::nullopt; },
        .acquirePhysical = [] { return true; },
        .checkCapability = [&] { return ++seen.capabilityReads, row.capability; },
        .readState = [&](S& s) { s = (++seen.reads, S::Off); },
        .write = [&](std::uint32_t) { seen.writes += tokensAtPoll == tokens ? 1 : 100; return row.writes; },
        .cancel = [&] { return tokensAtPoll = tokens, ++seen.polls, row.cancelFrom && seen.polls >= row.cancelFrom; }};
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
        {.situation = "status, C missing", .tokens = {kT, kT, kNone}},
        {.situation = "status, A missing", .tokens = {kNone, kT, kT}},
        {.situation = "status, capabilities without D6", .tokens = {kT, kT, kT}, .capability = C::Unsupported},
        {.situation = "replugged between A and B", .tokens = {kT, kU}, .outcome = O::NotAcquired, .capabilityReads = 0},
        {.situation = "replugged between B and C", .tokens = {kT, kT, kU}, .outcome = O::NotAcquired},
        {.situation = "off, stale hint", .tokens = {kT, kT, kT}, .write = 4, .hint = kU, .issued = kT},
        {.situation = "off, hint = B with A missing", .tokens = {kNone, kT, kT}, .write = 4, .hint = kT},
        {.situation = "off, hint = B, C missing: falls back", .tokens = {kT, kT, kNone, kT}, .write = 4, .hint = kT},
        {.situation = "off, hint = B, C missing, fallback without D6", .tokens = {kT, kT, kNone}, .write = 4, .hint = kT, .capability = C::Unsupported, .outcome = O::CapabilityNotConfirmed},
        {.situation = "off, hint = B, C missing, fallback C differs", .tokens = {kT, kT, kNone, kU}, .write = 4, .hint = kT, .outcome = O::NotAcquired},
        {.situation = "off refused after the token was issued", .tokens = {kT, kT, kT}, .write = 4, .outcome = O::WriteFailed, .issued = kT, .writes = false},
        {.situation = "not current before acquiring", .tokens = {kT}, .outcome = O::NotAcquired, .capabilityReads = 0, .current = {false}},
        {.situation = "not current once acquired", .tokens = {kT}, .outcome = O::NotAcquired, .capabilityReads = 0, .current = {true, false}},
        {.situation = "not current after the capabilities", .tokens = {kT, kT}, .outcome = O::NotAcquired, .current = {true, true, false}},
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

// A cancel seen at any poll writes nothing; one after the checks only skips the read.
TEST(TryAcquireValidated, ACancelSeenBeforeTheWriteWritesNothing) {
    for (const std::uint32_t write : {0u, 4u}) {
        int readsSkipped = 0;
        for (int from = 1; from < 12; ++from) {
            SCOPED_TRACE(testing::Message() << "write " << write << ", cancel from poll " << from);
            // clang-format off
            const Seen seen = Validate({.situation = "", .tokens = {kT, kT, kT}, .write = write, .cancelFrom = from});
            // clang-format on
            const bool seenIt = seen.polls >= from;
            EXPECT_EQ(seen.writes + seen.reads, seenIt ? 0 : 1);
            EXPECT_TRUE(seen.outcome == (seenIt && write ? O::Cancelled : O::Ok) ||
                        (seenIt && !write));
            readsSkipped += seenIt && seen.outcome == O::Ok;
        }
        EXPECT_EQ(readsSkipped, write ? 0 : 1);
    }
}

struct FakeSteadyClock final : lenticor::SteadyClock {
    std::int64_t NowNanoseconds() override { return now; }
    // clang-format off
    void SleepUntil(std::int64_t instant) override { slices.push_back(instant - now), now = instant + overshoot; }
    // clang-format on
    std::int64_t now = 5'000'000'123, overshoot = 0;
    std::vector<std::int64_t> slices;
};

TEST(SleepUnlessCancelled, SleepsInSlicesAndStopsWithinOneAfterACancel) {
    const std::int64_t kMs = 1'000'000;
    // How long, how far each sleep overshoots and when a cancel comes (ns after
    // the start), then the slices slept.
    // clang-format off
    const std::tuple<int, std::int64_t, std::int64_t, std::vector<std::int64_t>> cases[] = {
        {15, 300'000, -1, {10 * kMs, 5 * kMs}},  // the rest is rounded up to a whole ms
        {1000, 0, 37 * kMs, {10 * kMs, 10 * kMs, 10 * kMs, 10 * kMs}},  // ends after its slice
        {1000, 0, 0, {}},  // a cancel already seen
    };
    // clang-format on
    for (const auto& [ms, overshoot, cancelAfter, slices] : cases) {
        SCOPED_TRACE(ms);
        FakeSteadyClock clock;
        clock.overshoot = overshoot;
        const std::int64_t start = clock.now;
        // clang-format off
        SleepUnlessCancelled(clock, milliseconds(ms), [&] { return cancelAfter >= 0 && clock.now - start >= cancelAfter; });
        // clang-format on
        EXPECT_EQ(clock.slices, slices);
    }
}

}  // namespace
}  // namespace nimbo::test
