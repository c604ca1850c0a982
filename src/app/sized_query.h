#pragma once
// Windows answers a list (display paths and modes, device ids, a registry
// value) in two calls: one for the size, one for the contents. Whatever the
// list describes can change in between, and the second call then says the
// buffer is too small. QuerySized asks again, a bounded number of times.

#include "platform/display_config.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace lenticor {

// Two attempts after the first: a display or USB change in between is rare,
// and a list that keeps growing is reported as the fetch's failure.
inline constexpr int kSizedQueryAttempts = 3;

// Calls `size` (which sizes the caller's buffers and answers false to stop,
// reporting its own failure) and then `fetch` (which answers a native code),
// again while `fetch` answers `tooSmall` and fewer than `attempts` fetches
// were made. Gives the last fetch's code, or nullopt when `size` stopped.
template <class Code, class Size, class Fetch>
[[nodiscard]] std::optional<Code> QuerySized(Code tooSmall, Size&& size, Fetch&& fetch,
                                             int attempts = kSizedQueryAttempts) {
    for (int attempt = 1;; ++attempt) {
        if (!size()) {
            return std::nullopt;
        }
        const Code fetched = fetch();
        if (fetched != tooSmall || attempt >= attempts) {
            return fetched;
        }
    }
}

// QueryDisplayConfig(flags) into `paths` and `modes`, sized by
// GetDisplayConfigBufferSizes and sized again while the query answers
// kErrorInsufficientBuffer, at most `attempts` queries. `accept` sees each
// sizing's code and counts and answers false to stop (reporting its own
// failure). Gives the last query's code, or nullopt when `accept` stopped.
template <class Accept>
[[nodiscard]] std::optional<Win32Error> QueryDisplayConfigSized(
    DisplayConfig& config, std::uint32_t flags,
    std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
    std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO>& modes, std::uint32_t* topologyId,
    Accept&& accept, int attempts = kSizedQueryAttempts) {
    return QuerySized(
        kErrorInsufficientBuffer,
        [&] {
            std::uint32_t pathCount = 0;
            std::uint32_t modeCount = 0;
            const Win32Error sized =
                config.GetDisplayConfigBufferSizes(flags, pathCount, modeCount);
            if (!accept(sized, pathCount, modeCount)) {
                return false;
            }
            paths.assign(pathCount, {});
            modes.assign(modeCount, {});
            return true;
        },
        [&] { return config.QueryDisplayConfig(flags, paths, modes, topologyId); }, attempts);
}

}  // namespace lenticor
