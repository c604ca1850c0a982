// The MCCS capabilities string. A value list comes back upper-cased with
// single inner spaces and no blanks at its ends, never reaching past its
// closing parenthesis (lists do not nest, so an opening one may be part of a
// list); the power check agrees with the D6 list in any case.
#include "ddc/capabilities.h"
#include "fuzz_support.h"

namespace fz = lenticor::fuzz;

namespace {

bool HasToken(const std::string& values, std::string_view token) {
    std::size_t start = 0;
    while (start <= values.size()) {
        const std::size_t stop = std::min(values.find(' ', start), values.size());
        if (std::string_view(values).substr(start, stop - start) == token)
            return true;
        start = stop + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::string_view code = fz::AsText(data, 2);
    const std::string_view capabilities = fz::AsText(data + 2, size - 2);
    if (const auto values = nimbo::FindVcpCodeValues(capabilities, code)) {
        FUZZ_CHECK(values->size() <= capabilities.size());
        FUZZ_CHECK(values->find_first_of(")abcdefghijklmnopqrstuvwxyz\t\n\v\f\r") ==
                   std::string::npos);
        FUZZ_CHECK(values->find("  ") == std::string::npos);
        FUZZ_CHECK(values->empty() || (values->front() != ' ' && values->back() != ' '));
    }
    const auto d6 = nimbo::FindVcpCodeValues(capabilities, "d6");
    FUZZ_CHECK(d6 == nimbo::FindVcpCodeValues(capabilities, "D6"));
    FUZZ_CHECK(nimbo::AdvertisesPowerOnAndOff(capabilities) ==
               (d6 && HasToken(*d6, "01") && HasToken(*d6, "04")));
    return 0;
}
