#include "windows_api.h"

// After <windows.h>, which it needs.
#include <bcrypt.h>

#include "unique_handle.h"
#include "win32_ports.h"

#include <limits>

namespace lenticor::win32 {
namespace {

struct AlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle algorithm) { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
using UniqueAlgorithm = UniqueHandle<AlgorithmTraits>;

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// The real Windows cryptography: SHA-256 and random bytes from CNG.
class Win32Crypto final : public Crypto {
  public:
    [[nodiscard]] std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> data) override {
        if (data.size() > std::numeric_limits<ULONG>::max())
            return std::nullopt;
        UniqueAlgorithm algorithm;
        if (!Succeeded(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM,
                                                     nullptr, 0))) {
            return std::nullopt;
        }
        Sha256Digest digest{};
        // BCryptHash does not write through its input pointer.
        static UCHAR nothing = 0;
        auto* input = data.empty() ? &nothing : const_cast<PUCHAR>(data.data());
        if (!Succeeded(::BCryptHash(algorithm.get(), nullptr, 0, input,
                                    static_cast<ULONG>(data.size()), digest.data(),
                                    static_cast<ULONG>(digest.size())))) {
            return std::nullopt;
        }
        return digest;
    }

    [[nodiscard]] bool GenRandom(std::span<std::uint8_t> buffer) override {
        if (buffer.size() > std::numeric_limits<ULONG>::max())
            return false;
        return Succeeded(::BCryptGenRandom(nullptr, buffer.data(),
                                           static_cast<ULONG>(buffer.size()),
                                           BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    }
};

}  // namespace

std::unique_ptr<Crypto> MakeWin32Crypto() {
    return std::make_unique<Win32Crypto>();
}

}  // namespace lenticor::win32
