// The Nimbo id of --ensure-nimbo-ready: the UTF-8 text after "nimbo:" in the
// first argument, and nothing for any other first argument.
#include "app/text.h"
#include "fuzz_support.h"
#include "readiness/ensure_command.h"

namespace fz = lenticor::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto arguments = fz::SplitArguments(data, size);
    const std::string target = nimbo::ParseNimboTarget(arguments);
    FUZZ_CHECK(fz::IsValidUtf8(target));
    const bool named = !arguments.empty() && arguments.front().starts_with(L"nimbo:");
    FUZZ_CHECK(target == (named ? lenticor::WideToUtf8(arguments.front().substr(6)) : ""));
    return 0;
}
