// --nimbo-display-brightness arguments: a rejection carries a message the
// result line can hold, an accepted capability token is text the line can hold.
#include "ddc/brightness_request.h"
#include "fuzz_support.h"

namespace fz = lenticor::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nimbo::DisplayBrightnessRequest request;
    std::string error;
    if (!nimbo::ParseDisplayBrightnessRequest(fz::SplitArguments(data, size), request, error)) {
        FUZZ_CHECK(!error.empty() && fz::IsValidUtf8(error));
        return 0;
    }
    FUZZ_CHECK(fz::IsValidUtf8(request.capabilityHint));
    return 0;
}
