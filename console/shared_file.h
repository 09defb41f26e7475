// One shared, read-only open of an existing file: CS2 may write, truncate,
// delete or recreate console.log while it is open. The platform part of the
// console tail and the replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

struct SharedFile {
    std::intptr_t handle = -1;
};
// How an open came out. Only a regular file is opened: a FIFO or a device
// could block the open or the reads, or never end, so such a path is refused
// without waiting.
enum class SharedOpen { opened, failed, not_regular };
SharedOpen shared_file_open(SharedFile& file, const std::filesystem::path& path);
bool shared_file_size(SharedFile& file, std::uint64_t& size);
// Reads up to `count` bytes at `offset` and appends them to `out`; false when
// seeking or reading fails. A short read is not a failure.
bool shared_file_read(SharedFile& file, std::uint64_t offset, std::size_t count,
                      std::string& out);
// The same into `count` bytes at `into`, of which `got` were read; for a
// reader that keeps its own buffer and would rather not clear it each time.
bool shared_file_read_into(SharedFile& file, std::uint64_t offset, char* into, std::size_t count,
                           std::size_t& got);
void shared_file_close(SharedFile& file);
