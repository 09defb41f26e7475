// flock on agent.lock: the kernel drops it when the process ends, however it ends.
#include "agent/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/text.h"

LockAttempt take_instance_lock(InstanceLock& lock, const std::filesystem::path& data_folder) {
    LockAttempt attempt;
    if (data_folder.empty()) {
        attempt.error = "no data folder (HOME is not set)";
        return attempt;
    }
    std::error_code ignored;
    std::filesystem::create_directories(data_folder, ignored);
    const std::filesystem::path path = data_folder / kLockFileName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        attempt.error = "cannot open " + path_to_utf8(path) + ": " + std::strerror(errno);
        return attempt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int failed = errno;
        ::close(fd);
        if (failed == EWOULDBLOCK) attempt.running_pid = lock_file_pid(data_folder);
        else attempt.error = "cannot lock " + path_to_utf8(path) + ": " + std::strerror(failed);
        return attempt;
    }
    // Written through the locked file itself: a file put in its place would
    // not be the one locked.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        attempt.error = "cannot write " + path_to_utf8(path) + ": " + std::strerror(errno);
    }
    lock.handle = fd;
    attempt.taken = true;
    return attempt;
}

void release_instance_lock(InstanceLock& lock) {
    if (lock.handle < 0) return;
    ::close(static_cast<int>(lock.handle));   // drops the flock
    lock.handle = -1;
}
