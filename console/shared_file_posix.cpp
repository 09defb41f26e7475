#include "console/shared_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

SharedOpen shared_file_open(SharedFile& file, const std::filesystem::path& path) {
    // Looked at before opening, since opening some devices acts on them; and
    // again on the open file, which O_NONBLOCK keeps from waiting for a
    // writer should a FIFO have taken the file's place in between.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return SharedOpen::failed;
    int fd = S_ISREG(info.st_mode) ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) return S_ISREG(info.st_mode) ? SharedOpen::failed : SharedOpen::not_regular;
    file.handle = fd;
    return SharedOpen::opened;
}

bool shared_file_size(SharedFile& file, std::uint64_t& size) {
    struct stat info;
    if (fstat(static_cast<int>(file.handle), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool shared_file_read_into(SharedFile& file, std::uint64_t offset, char* into, std::size_t count,
                           std::size_t& got) {
    ssize_t read;
    do {
        read = pread(static_cast<int>(file.handle), into, count, static_cast<off_t>(offset));
    } while (read < 0 && errno == EINTR);
    got = read < 0 ? 0 : static_cast<std::size_t>(read);
    return read >= 0;
}

void shared_file_close(SharedFile& file) {
    if (file.handle != -1)
        ::close(static_cast<int>(file.handle));
    file.handle = -1;
}
