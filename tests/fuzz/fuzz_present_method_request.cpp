// --gl-present-method arguments: every accepted action but detect names an exe
// that is a bare file name.
#include "fuzz_support.h"
#include "gl_present_method/present_method_request.h"

using namespace lenticor::gl_present_method;

FUZZ_TARGET {
    const auto request =
        fz::ParseArguments<PresentMethodRequest>(ParsePresentMethodArgs, data, size);
    if (request && request->action != PresentMethodAction::Detect)
        FUZZ_CHECK(!request->exe.empty() &&
                   request->exe.find_first_of(L"\\/:") == std::wstring::npos);
}
