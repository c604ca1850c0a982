// Monitor names and model codes: the EDID descriptor text and the model code
// taken from a device id, a hardware id or an interface path. Each result must
// be a piece of the input in the place the rule names.
#include "app/monitor_identity.h"
#include "displays/monitor_names.h"
#include "fuzz_support.h"

#include <array>

namespace fz = lenticor::fuzz;

namespace {

void CheckEdidName(std::span<const std::uint8_t> edid) {
    const std::wstring name = nimbo::MonitorNameFromEdid(edid);
    if (edid.size() < 128) {
        FUZZ_CHECK(name.empty());
        return;
    }
    if (name.empty())
        return;
    FUZZ_CHECK(name.size() <= 13);
    FUZZ_CHECK(name.back() > L' ' && name.find(L'\n') == std::wstring::npos);
    bool found = false;
    for (const std::size_t offset : std::array<std::size_t, 4>{54, 72, 90, 108}) {
        const auto descriptor = edid.subspan(offset, 18);
        if (found || descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0 ||
            descriptor[3] != 0xFC || descriptor[4] != 0) {
            continue;
        }
        std::wstring text;
        for (std::size_t i = 0; i < name.size(); ++i)
            text.push_back(static_cast<wchar_t>(descriptor[5 + i]));
        found = text == name;
    }
    FUZZ_CHECK(found);
    FUZZ_CHECK(name.find(L'\0') == std::wstring::npos);
}

// `model` sits right after a prefix of `prefixLength` and runs to the next
// backslash or the end.
void CheckModelAfterPrefix(std::wstring_view id, std::size_t prefixLength,
                           std::wstring_view model) {
    if (model.empty())
        return;
    FUZZ_CHECK(model.find(L'\\') == std::wstring_view::npos);
    FUZZ_CHECK(id.substr(prefixLength, model.size()) == model);
    const std::size_t end = prefixLength + model.size();
    FUZZ_CHECK(end == id.size() || id[end] == L'\\');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const std::string_view text = fz::AsText(rest.data(), rest.size());
    switch (data[0] % 4) {
        case 0:
            CheckEdidName(rest);
            break;
        case 1: {
            const std::wstring id = fz::DecodeLossy(text);
            const std::wstring model = nimbo::ModelCodeFromDeviceId(id);
            if (!model.empty()) {
                FUZZ_CHECK(model.find(L'\\') == std::wstring::npos);
                FUZZ_CHECK(id.find(L"MONITOR\\" + model + L"\\") != std::wstring::npos);
            }
            break;
        }
        case 2: {
            const std::wstring id = fz::DecodeLossy(text);
            CheckModelAfterPrefix(id, 8, nimbo::ModelIdFromHardwareId(id));
            break;
        }
        default: {
            const std::wstring model = nimbo::ModelIdFromInterfacePath(text);
            if (!model.empty()) {
                FUZZ_CHECK(text.starts_with("\\\\?\\display#"));
                const std::size_t end = 12 + model.size();
                FUZZ_CHECK(end < text.size() && text[end] == '#');
                for (std::size_t i = 0; i < model.size(); ++i) {
                    FUZZ_CHECK(model[i] == static_cast<unsigned char>(text[12 + i]) &&
                               model[i] != L'#');
                }
            }
            break;
        }
    }
    return 0;
}
