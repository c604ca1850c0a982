// --nimbo-display-brightness and --nimbo-display-power arguments: an accepted
// capability token is text the result line can hold.
#include "ddc/brightness_request.h"
#include "ddc/power_request.h"
#include "fuzz_support.h"

FUZZ_TARGET {
    if (const auto request = fz::ParseArguments<nimbo::DisplayBrightnessRequest>(
            nimbo::ParseDisplayBrightnessRequest, data, size))
        FUZZ_CHECK(fz::IsValidUtf8(request->capabilityHint));
    if (const auto request = fz::ParseArguments<nimbo::DisplayPowerRequest>(
            nimbo::ParseDisplayPowerRequest, data, size))
        FUZZ_CHECK(fz::IsValidUtf8(request->capabilityHint));
}
