// For every call the engine makes in a successful detach, restore, reconcile
// and forget, re-run with exactly that call failing (false / empty result, or
// a thrown error) and check the safety rules. The call positions come from the
// recorded successful run, so the sweep follows the engine as it changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>

#include "desktop/desktop_scenarios.h"

namespace nimbo::test {
namespace {

using A = DesktopAction;

struct Scenario {
    const char* name;
    std::function<FakeDesktop()> start;
    DesktopAction action;
    bool currentToken = false;
};

const Scenario kScenarios[] = {
    {"detach", Office, A::Detach},
    {"restore", Detached, A::Restore},
    {"restore after manual re-enable", Reenabled, A::Restore},
    {"detach after manual re-enable", Reenabled, A::Detach},
    {"reconcile with replacement", Replaced, A::Reconcile},
    {"reconcile after manual re-enable", Reenabled, A::Reconcile},
    {"forget with replacement", Replaced, A::Forget, true},
    {"forget corrupt journal", CorruptJournal, A::Forget, true},
};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsReportable(const DesktopResult& r) {
    if (r.success)
        return r.errorCode.empty() && r.errorMessage.empty();
    if (r.errorCode == "DESKTOP_IO_FAILED")
        return r.errorMessage == kInjectedFailure;
    if (r.errorCode == "DESKTOP_JOURNAL_CORRUPT")
        return !r.errorMessage.empty();
    const auto& pairs = EngineFailures();
    return std::find(pairs.begin(), pairs.end(), CodeMessage{r.errorCode, r.errorMessage}) !=
           pairs.end();
}

// Checks one faulted run; `start` is the untouched machine it began from.
void CheckInvariants(const FakeDesktop& start, const FakeDesktop& end, const DesktopResult& r) {
    EXPECT_EQ(end.violations, std::vector<std::string>{});
    EXPECT_TRUE(IsReportable(r)) << r.errorCode << ": " << r.errorMessage;
    if (!r.success) {
        EXPECT_EQ(r.state, "unknown");
    }

    // The journal changes only through the steps that may change it.
    if (end.journal != start.journal) {
        EXPECT_GT(end.saves + end.deletes + end.archives,
                  start.saves + start.deletes + start.archives);
    }
    if (!r.success && end.saves > start.saves) {
        // A recovery written in this run stays, and the failure says so.
        EXPECT_TRUE(end.journal.has_value());
        EXPECT_TRUE(r.errorCode == "DESKTOP_IO_FAILED" ||
                    EndsWith(r.errorMessage, "journal retained"))
            << r.errorMessage;
    }
    if (end.journal && end.saves > start.saves) {
        // What was written can restore the desktop the run started from.
        const DesktopJournal written = ParseJournal(*end.journal);
        EXPECT_EQ(written.before.snapshot, start.Capture().snapshot);
    }
    // No attached Nimbo is ever left off the desktop without a recovery record.
    for (const Monitor& m : end.monitors) {
        if (m.model == kNimboModel && m.available && !m.active) {
            EXPECT_TRUE(end.journal.has_value())
                << "Nimbo " << m.targetId << " left off without journal";
        }
    }
}

TEST(DesktopFaultSweep, EveryCallPositionOfEveryMutatingAction) {
    int runs = 0;
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        FakeDesktop baseline = scenario.start();
        const std::string token = scenario.currentToken ? baseline.Revision() : "";
        const DesktopResult ok = baseline.Run(Request(scenario.action, L"", token));
        ASSERT_TRUE(ok.success) << ok.errorCode << ": " << ok.errorMessage;
        ASSERT_EQ(baseline.violations, std::vector<std::string>{});
        const std::vector<Op> sequence = baseline.calls;

        for (std::size_t position = 0; position < sequence.size(); ++position) {
            for (const bool throws : {false, true}) {
                // The loader reports "no journal" only when there is no file;
                // an empty answer while one exists is not a failure it can have.
                if (!throws && sequence[position] == Op::LoadJournal)
                    continue;
                SCOPED_TRACE(std::string(OpName(sequence[position])) + " #" +
                             std::to_string(position) +
                             (throws ? " throws" : " returns false/empty"));
                const FakeDesktop start = scenario.start();
                FakeDesktop fake = start;
                fake.fault = FakeDesktop::Fault{position, throws};
                const DesktopResult r = fake.Run(Request(scenario.action, L"", token));
                ++runs;
                ASSERT_GT(fake.calls.size(), position)
                    << "the run diverged before the faulted call";
                EXPECT_EQ(fake.calls[position], sequence[position]);
                CheckInvariants(start, fake, r);
                if (throws) {
                    EXPECT_FALSE(r.success);
                    EXPECT_EQ(r.errorCode, "DESKTOP_IO_FAILED");
                }
            }
        }
    }
    RecordProperty("faultRuns", runs);
    std::cout << "[ sweep ] " << runs << " faulted runs over " << std::size(kScenarios)
              << " scenarios\n";
    EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace nimbo::test
