#pragma once
// The simulated machine's cryptography: OpenSSL's libcrypto in place of CNG,
// so digests and random bytes are the real thing on both sides.

#include "platform/crypto.h"

namespace lenticor {

class OpenSslCrypto final : public Crypto {
  public:
    [[nodiscard]] std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool GenRandom(std::span<std::uint8_t> buffer) override;
};

}  // namespace lenticor
