// The bytes of one GSI connection as the listener's worker sees them: where
// the head ends (also searched from every chunk boundary, as the worker does
// while appending) and the Content-Length it announces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gsi/gsi_listener.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    const std::size_t end = gsi_find_head_end(request);
    if (end != std::string_view::npos) {
        if (end + 4 > request.size() || request.substr(end, 4) != "\r\n\r\n") std::abort();
        if (const auto length = gsi_content_length(request.substr(0, end + 4)))
            if (*length > kGsiMaxContentLength) std::abort();
    }
    // Appending in small chunks and searching from the old size minus 3 must
    // find the same end.
    for (std::size_t have = 0; have < request.size();) {
        const std::size_t next = have + 1 + (request[have] & 0x0f);
        const std::size_t now = next < request.size() ? next : request.size();
        const std::size_t found = gsi_find_head_end(request.substr(0, now), have < 3 ? 0 : have - 3);
        if (found != std::string_view::npos) {
            if (found != end) std::abort();
            break;
        }
        have = now;
    }
    gsi_content_length(request);
    return 0;
}
