// SHA-256 through OpenSSL's EVP interface.
#include "roster/sha256.h"

#include "core/text.h"

#include <openssl/evp.h>

std::string sha256_hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1 ||
        size != 32) {
        return {};
    }
    return hex_lower(digest, size);
}
