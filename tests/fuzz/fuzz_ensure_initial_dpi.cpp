// --initial-dpi of --ensure-nimbo-ready, against a second reading of its rule:
// the option takes the next argument; the last all-digit value of at least 1
// counts, saturating at 2147483647.
#include "fuzz_support.h"
#include "readiness/ensure_command.h"

#include <algorithm>

namespace fz = lenticor::fuzz;

namespace {

nimbo::InitialDpiRequest Expected(const std::vector<std::wstring>& arguments) {
    nimbo::InitialDpiRequest expected;
    for (auto it = std::find(arguments.begin(), arguments.end(), L"--initial-dpi");
         it != arguments.end(); it = std::find(it, arguments.end(), L"--initial-dpi")) {
        expected.requested = true;
        if (++it == arguments.end())
            break;
        const std::wstring& value = *it++;
        if (value.empty() || value.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        const std::size_t first = std::min(value.find_first_not_of(L'0'), value.size());
        const std::wstring digits = value.substr(first);
        const bool saturated =
            digits.size() > 10 || (digits.size() == 10 && digits > L"2147483647");
        const long long number = digits.empty() ? 0 : saturated ? 2147483647 : std::stoll(digits);
        if (number >= 1)
            expected.percent = static_cast<std::int32_t>(number);
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto arguments = fz::SplitArguments(data, size);
    const nimbo::InitialDpiRequest request = nimbo::ParseInitialDpi(arguments);
    const nimbo::InitialDpiRequest expected = Expected(arguments);
    FUZZ_CHECK(request.requested == expected.requested);
    FUZZ_CHECK(request.percent == expected.percent);
    return 0;
}
