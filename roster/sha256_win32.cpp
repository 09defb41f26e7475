// SHA-256 through CNG. Each call opens and closes its own provider and hash.
#include "roster/sha256.h"

#include "core/text.h"

#include <windows.h>
#include <bcrypt.h>

#include <limits>

namespace {

constexpr ULONG kDigestSize = 32;

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    // BCryptHashData takes a 32-bit length; room key texts are far shorter.
    if (bytes.size() > std::numeric_limits<ULONG>::max()) return {};

    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        provider == nullptr) {
        return {};
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0)) ||
        hash == nullptr) {
        BCryptCloseAlgorithmProvider(provider, 0);
        return {};
    }
    unsigned char digest[kDigestSize] = {};
    // BCryptHashData does not write the input; the cast is only for its signature.
    auto* input = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    bool ok = succeeded(BCryptHashData(hash, input, static_cast<ULONG>(bytes.size()), 0)) &&
              succeeded(BCryptFinishHash(hash, digest, kDigestSize, 0));
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (!ok) return {};
    return hex_lower(digest, kDigestSize);
}
