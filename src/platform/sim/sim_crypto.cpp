#include "platform/sim/sim_crypto.h"
#include "platform/sim/sim_port_calls.h"

#include <climits>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace lenticor {
namespace {

// A run digests a few small files, yet by default libcrypto first reads
// openssl.cnf, fills its tables of legacy algorithm names and then copies
// them into the name map of the first fetch, which costs far more than the
// hashing. Nothing in the configuration can change what SHA-256 computes and
// we never look an algorithm up by a legacy name, so the library starts
// without either, before any other call into it.
bool LibraryReady() {
    static const bool ready =
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                                OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                            nullptr) == 1;
    return ready;
}

// Fetched once for the process. Constructed after the library registered its
// exit-time cleanup, so it is freed before that cleanup runs.
const EVP_MD* Sha256Method() {
    using Method = std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)>;
    static const Method method(LibraryReady() ? EVP_MD_fetch(nullptr, "SHA256", nullptr) : nullptr,
                               &EVP_MD_free);
    return method.get();
}

}  // namespace

std::optional<Sha256Digest> OpenSslCrypto::Sha256(std::span<const std::uint8_t> data) {
    const sim::PortCall counted;
    const EVP_MD* method = Sha256Method();
    if (method == nullptr)
        return std::nullopt;
    Sha256Digest digest{};
    unsigned int length = 0;
    // A null pointer is fine for zero bytes, but not every provider agrees.
    static const std::uint8_t kNothing = 0;
    const void* bytes = data.empty() ? &kNothing : data.data();
    if (EVP_Digest(bytes, data.size(), digest.data(), &length, method, nullptr) != 1 ||
        length != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

bool OpenSslCrypto::GenRandom(std::span<std::uint8_t> buffer) {
    const sim::PortCall counted;
    if (buffer.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    if (buffer.empty())
        return true;
    if (!LibraryReady())
        return false;
    return RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) == 1;
}

}  // namespace lenticor
