// --gl-present-method arguments: every accepted action but detect names an exe
// that is a bare file name; a rejection carries a message the line can hold.
#include "fuzz_support.h"
#include "gl_present_method/present_method_request.h"

namespace fz = lenticor::fuzz;
using namespace lenticor::gl_present_method;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PresentMethodRequest request;
    std::string message;
    if (!ParsePresentMethodArgs(fz::SplitArguments(data, size), request, message)) {
        FUZZ_CHECK(!message.empty() && fz::IsValidUtf8(message));
        return 0;
    }
    if (request.action != PresentMethodAction::Detect) {
        FUZZ_CHECK(!request.exe.empty());
        FUZZ_CHECK(request.exe.find_first_of(L"\\/:") == std::wstring::npos);
    }
    return 0;
}
