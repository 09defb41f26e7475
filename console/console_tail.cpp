#include "console/console_tail.h"

#include "console/shared_file.h"

#include <algorithm>
#include <cstring>

namespace {

// Closes the file on every way out of a poll.
struct SharedFileGuard {
    SharedFile file;
    ~SharedFileGuard() { shared_file_close(file); }
};

// Cuts `partial` at its line feeds into `lines`, at most `most` lines, keeping
// what follows the last line cut in `partial`.
void cut_lines(std::string& partial, std::vector<std::string>& lines, std::size_t most) {
    std::size_t start = 0;
    for (std::size_t cut = 0; cut < most; ++cut) {
        const void* found = std::memchr(partial.data() + start, '\n', partial.size() - start);
        if (!found)
            break;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(found) - partial.data());
        std::size_t length = end - start;
        if (length > 0 && partial[end - 1] == '\r')
            --length;
        lines.emplace_back(partial, start, length);
        start = end + 1;
    }
    partial.erase(0, start);
}

}  // namespace

SharedOpen ConsoleTail::open(const std::filesystem::path& file, bool from_start) {
    path = file;
    offset = 0;
    partial_line.clear();
    SharedFileGuard guard;
    const SharedOpen opened = shared_file_open(guard.file, path);
    if (opened != SharedOpen::opened) return opened;
    if (!from_start) {
        std::uint64_t size = 0;
        if (!shared_file_size(guard.file, size))
            return SharedOpen::failed;
        offset = size;
    }
    return SharedOpen::opened;
}

bool ConsoleTail::poll(std::vector<std::string>& lines, bool& restarted) {
    SharedFileGuard guard;
    std::uint64_t size = 0;
    if (shared_file_open(guard.file, path) != SharedOpen::opened || !shared_file_size(guard.file, size))
        return false;
    // Shorter than what was read: CS2 started a new file. Nothing is changed
    // until the read has worked, so a failed poll is simply repeated.
    const bool replaced = size < offset;
    const std::uint64_t start = replaced ? 0 : offset;
    // Lines read earlier and not yet handed out go first; the file is read
    // again only once they are all out.
    const bool lines_waiting =
        !replaced && std::memchr(partial_line.data(), '\n', partial_line.size()) != nullptr;
    std::string bytes;
    if (size > start && !lines_waiting) {
        std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(size - start, kTailReadCap));
        if (!shared_file_read(guard.file, start, want, bytes))
            return false;
    }
    if (replaced) {
        restarted = true;
        partial_line.clear();
    }
    offset = start + bytes.size();
    partial_line += bytes;
    cut_lines(partial_line, lines, kTailLinesPerPoll);
    // Only a line still without its line feed is cut short.
    if (partial_line.size() > kTailLineCap &&
        std::memchr(partial_line.data(), '\n', partial_line.size()) == nullptr)
        partial_line.resize(kTailLineCap);
    return true;
}
