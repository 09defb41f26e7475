#include "console/byte_search.h"

#include <string.h>

std::size_t find_bytes(std::string_view text, std::string_view needle) {
    if (needle.empty()) return 0;
    const void* hit = memmem(text.data(), text.size(), needle.data(), needle.size());
    if (!hit) return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}
