#include "platform/sim/sim_crypto.h"

#include <climits>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace lenticor {

std::optional<Sha256Digest> OpenSslCrypto::Sha256(std::span<const std::uint8_t> data) {
    Sha256Digest digest{};
    unsigned int length = 0;
    // A null pointer is fine for zero bytes, but not every provider agrees.
    static const std::uint8_t kNothing = 0;
    const void* bytes = data.empty() ? &kNothing : data.data();
    if (EVP_Digest(bytes, data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

bool OpenSslCrypto::GenRandom(std::span<std::uint8_t> buffer) {
    if (buffer.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    if (buffer.empty())
        return true;
    return RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) == 1;
}

}  // namespace lenticor
