#include "core/random.h"

#include <sys/random.h>

#include <cerrno>

bool strong_random_bytes(unsigned char* out, std::size_t count) {
    // getrandom may return fewer bytes than asked or be interrupted; go on
    // until every byte is filled.
    while (count > 0) {
        ssize_t got = getrandom(out, count, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        out += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}
