// The Windows C runtime has no memmem; the standard search will do.
#include "console/byte_search.h"

std::size_t find_bytes(std::string_view text, std::string_view needle) {
    return text.find(needle);
}
