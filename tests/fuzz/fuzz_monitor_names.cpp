// Monitor names and model codes: the EDID descriptor text and the model code
// taken from a device id, a hardware id or an interface path. Each result must
// be a piece of the input in the place the rule names.
#include "app/monitor_identity.h"
#include "displays/monitor_names.h"
#include "fuzz_support.h"

#include <algorithm>

static void CheckEdidName(std::span<const std::uint8_t> edid) {
    const std::wstring name = nimbo::MonitorNameFromEdid(edid);
    FUZZ_CHECK(name.empty() || (edid.size() >= 128 && name.size() <= 13 && name.back() > L' '));
    bool found = name.empty();
    for (std::size_t offset = 54; !found && offset <= 108; offset += 18) {
        const std::uint8_t* d = edid.data() + offset;
        found = d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 0xFC && d[4] == 0 &&
                std::equal(name.begin(), name.end(), d + 5);
    }
    FUZZ_CHECK(found && name.find_first_of(std::wstring_view(L"\n\0", 2)) == std::wstring::npos);
}

FUZZ_TARGET {
    if (size == 0)
        return;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const std::string_view text = fz::AsText(rest.data(), rest.size());
    const std::wstring id = fz::DecodeLossy(text);
    std::wstring model;
    switch (data[0] % 4) {
        case 0:
            return CheckEdidName(rest);
        case 1:
            model = nimbo::ModelCodeFromDeviceId(id);
            FUZZ_CHECK(model.empty() ||
                       id.find(L"MONITOR\\" + model + L"\\") != std::wstring::npos);
            break;
        case 2:
            // Right after the 8-character prefix, up to the next backslash or the end.
            model = nimbo::ModelIdFromHardwareId(id);
            FUZZ_CHECK(model.empty() || id.substr(8, model.size() + 1) == model ||
                       id.substr(8, model.size() + 1) == model + L"\\");
            break;
        default: {
            // Byte for byte after the prefix, up to the first '#'.
            model = nimbo::ModelIdFromInterfacePath(text);
            const std::wstring bytes(rest.begin(), rest.end());
            FUZZ_CHECK(model.empty() || (bytes.starts_with(L"\\\\?\\display#" + model + L"#") &&
                                         model.find(L'#') == std::wstring::npos));
            return;
        }
    }
    FUZZ_CHECK(model.find(L'\\') == std::wstring::npos);  // an id's model ends at a backslash
}
