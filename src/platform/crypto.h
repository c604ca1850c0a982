#pragma once
// Port: the two cryptographic services the program needs, a SHA-256 digest
// and random bytes from the system's preferred generator. Failures are values;
// callers decide what a failed hash or draw means for them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace lenticor {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Crypto {
  public:
    virtual ~Crypto() = default;
    // One-shot digest of `data`; nullopt when the provider fails.
    [[nodiscard]] virtual std::optional<Sha256Digest> Sha256(
        std::span<const std::uint8_t> data) = 0;
    // Fills `buffer` completely; false when the generator fails.
    [[nodiscard]] virtual bool GenRandom(std::span<std::uint8_t> buffer) = 0;
};

}  // namespace lenticor
