// The MCCS capabilities string. A value list comes back upper-cased with
// single inner spaces and no blanks at its ends, never reaching past its
// closing parenthesis (lists do not nest, so an opening one may be part of a
// list); the power check agrees with the D6 list in any case, values run
// together counting one by one.
#include "ddc/capabilities.h"
#include "fuzz_support.h"

#include <sstream>

// The words of a value list; a word of an even number of hexadecimal digits
// also counts as its two-digit values.
static bool HasToken(const std::string& values, std::string_view token) {
    std::istringstream words(values);
    for (std::string word; words >> word;) {
        const bool run = word.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        for (std::size_t i = 0; run && word.size() % 2 == 0 && i < word.size(); i += 2)
            if (word.substr(i, 2) == token)
                return true;
        if (word == token)
            return true;
    }
    return false;
}

FUZZ_TARGET {
    if (size < 2)
        return;
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
}
