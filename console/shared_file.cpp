// What every platform builds on its own reader.
#include "console/shared_file.h"

bool shared_file_read(SharedFile& file, std::uint64_t offset, std::size_t count,
                      std::string& out) {
    const std::size_t before = out.size();
    out.resize(before + count);
    std::size_t got = 0;
    const bool ok = shared_file_read_into(file, offset, out.data() + before, count, got);
    out.resize(before + got);
    return ok;
}
