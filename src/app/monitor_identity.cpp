#include "app/monitor_identity.h"

#include <cwctype>

namespace nimbo {

bool IsNimboModelId(std::wstring_view modelId) {
    if (modelId.size() != 7) {
        return false;
    }
    std::wstring upper(modelId);
    for (auto& c : upper) {
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    }
    return upper == L"KZV1A07" || upper == L"KZV2B09";
}

std::wstring ModelIdFromHardwareId(std::wstring_view hardwareId) {
    constexpr std::wstring_view kPrefix = L"monitor\\";
    if (hardwareId.size() <= kPrefix.size()) {
        return {};
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::towlower(static_cast<std::wint_t>(hardwareId[i])) !=
            static_cast<std::wint_t>(kPrefix[i])) {
            return {};
        }
    }
    const auto end = hardwareId.find(L'\\', kPrefix.size());
    return std::wstring(hardwareId.substr(kPrefix.size(), end == std::wstring_view::npos
                                                              ? std::wstring_view::npos
                                                              : end - kPrefix.size()));
}

std::wstring ModelIdFromInterfacePath(std::string_view interfacePathUtf8) {
    constexpr std::string_view kPrefix = "\\\\?\\display#";
    if (interfacePathUtf8.substr(0, kPrefix.size()) != kPrefix) {
        return {};
    }
    const auto end = interfacePathUtf8.find('#', kPrefix.size());
    if (end == std::string_view::npos) {
        return {};
    }
    std::wstring model;
    for (std::size_t i = kPrefix.size(); i < end; ++i) {
        model.push_back(static_cast<wchar_t>(static_cast<unsigned char>(interfacePathUtf8[i])));
    }
    return model;
}

}  // namespace nimbo
