// --nimbo-desktop arguments. A rejection carries a message the result line can
// hold; an accepted request names a known action and a token that is "absent"
// or 64 lower-case hexadecimal digits.
#include "desktop/desktop_command.h"
#include "fuzz_support.h"

namespace fz = lenticor::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nimbo::DesktopRequest request;
    std::string message;
    if (!nimbo::ParseDesktopRequest(fz::SplitArguments(data, size), request, message)) {
        FUZZ_CHECK(!message.empty() && fz::IsValidUtf8(message));
        return 0;
    }
    const int action = static_cast<int>(request.action);
    FUZZ_CHECK(action >= 0 && action <= static_cast<int>(nimbo::DesktopAction::Darken));
    const std::string& token = request.recoveryToken;
    FUZZ_CHECK(
        token.empty() || token == "absent" ||
        (token.size() == 64 && token.find_first_not_of("0123456789abcdef") == std::string::npos));
    return 0;
}
