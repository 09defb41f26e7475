#include "core/random.h"

#include <windows.h>
#include <bcrypt.h>

bool strong_random_bytes(unsigned char* out, std::size_t count) {
    // One call per ULONG-sized piece; the token needs only a handful of bytes.
    while (count > 0) {
        ULONG piece = count > 0x10000000u ? 0x10000000u : static_cast<ULONG>(count);
        NTSTATUS status = BCryptGenRandom(nullptr, out, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0)
            return false;
        out += piece;
        count -= piece;
    }
    return true;
}
