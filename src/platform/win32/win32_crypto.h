#pragma once
// The real Windows cryptography: SHA-256 and random bytes from CNG.

#include "platform/crypto.h"

namespace lenticor::win32 {

class Win32Crypto final : public Crypto {
  public:
    [[nodiscard]] std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool GenRandom(std::span<std::uint8_t> buffer) override;
};

}  // namespace lenticor::win32
