#pragma once
// Windows answers a list (display paths and modes, device ids, a registry
// value) in two calls: one for the size, one for the contents. Whatever the
// list describes can change in between, and the second call then says the
// buffer is too small. QuerySized asks again, a bounded number of times.

#include <optional>

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

}  // namespace lenticor
