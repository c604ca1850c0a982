// --ensure-nimbo-ready arguments. The Nimbo id is the UTF-8 text after "nimbo:"
// in the first argument, nothing for any other. --initial-dpi takes the next
// argument; the last all-digit value of at least 1 counts, saturating.
#include "app/text.h"
#include "fuzz_support.h"
#include "readiness/ensure_command.h"

#include <algorithm>

FUZZ_TARGET {
    auto arguments = fz::SplitArguments(data, size);
    const bool named = !arguments.empty() && arguments.front().starts_with(L"nimbo:");
    FUZZ_CHECK(nimbo::ParseNimboTarget(arguments) ==
               (named ? lenticor::WideToUtf8(arguments.front().substr(6)) : ""));
    const auto dpi = nimbo::ParseInitialDpi(arguments);
    FUZZ_CHECK(dpi.requested == (std::find(arguments.begin(), arguments.end(), L"--initial-dpi") !=
                                 arguments.end()));
    FUZZ_CHECK(dpi.percent >= 0);
    // Later values: invalid ones change nothing, a valid one wins.
    arguments.insert(arguments.end(), {L"--initial-dpi", L"00x", L"--initial-dpi", L"0"});
    const auto unchanged = nimbo::ParseInitialDpi(arguments);
    FUZZ_CHECK(unchanged.requested && unchanged.percent == dpi.percent);
    arguments.insert(arguments.end(), {L"--initial-dpi", L"002147483648"});
    FUZZ_CHECK(nimbo::ParseInitialDpi(arguments).percent == 2147483647);
    arguments.back() = L"0150";
    FUZZ_CHECK(nimbo::ParseInitialDpi(arguments).percent == 150);
}
