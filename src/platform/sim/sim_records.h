#pragma once
// Helpers for the Windows records the simulated ports fill in.

#include "platform/display_config_types.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace lenticor::sim {

// Windows copies texts into fixed WCHAR arrays and cuts what does not fit.
[[nodiscard]] inline std::wstring Fixed(std::wstring_view text, std::size_t arraySize) {
    return std::wstring(text.substr(0, std::min(text.size(), arraySize - 1)));
}

[[nodiscard]] inline bool SameLuid(nimbo::dcfg::LUID a, nimbo::dcfg::LUID b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

}  // namespace lenticor::sim
