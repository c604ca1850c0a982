// --nimbo-desktop arguments: an accepted request names a known action and a
// token that is "absent" or 64 lower-case hexadecimal digits.
#include "desktop/desktop_command.h"
#include "fuzz_support.h"

FUZZ_TARGET {
    const auto request =
        fz::ParseArguments<nimbo::DesktopRequest>(nimbo::ParseDesktopRequest, data, size);
    if (!request)
        return;
    const int action = static_cast<int>(request->action);
    FUZZ_CHECK(action >= 0 && action <= static_cast<int>(nimbo::DesktopAction::Darken));
    const std::string& token = request->recoveryToken;
    FUZZ_CHECK(
        token.empty() || token == "absent" ||
        (token.size() == 64 && token.find_first_not_of("0123456789abcdef") == std::string::npos));
}
