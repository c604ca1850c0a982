// The MCCS capabilities string. A value list comes back upper-cased with
// single inner spaces and no blanks at its ends, never reaching past its
// closing parenthesis (lists do not nest, so an opening one may be part of a
// list); the power check agrees with the D6 list in any case, values run
// together counting one by one.
#include "ddc/capabilities.h"
#include "fuzz_support.h"

namespace fz = lenticor::fuzz;

namespace {

bool HasToken(const std::string& values, std::string_view token) {
    std::size_t start = 0;
    while (start <= values.size()) {
        const std::size_t stop = std::min(values.find(' ', start), values.size());
        const std::string_view word = std::string_view(values).substr(start, stop - start);
        if (word == token)
            return true;
        // A word of an even number of hexadecimal digits is its two-digit values.
        if (word.size() > 2 && word.size() % 2 == 0 &&
            word.find_first_not_of("0123456789ABCDEF") == std::string_view::npos) {
            for (std::size_t i = 0; i < word.size(); i += 2)
                if (word.substr(i, 2) == token)
                    return true;
        }
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
