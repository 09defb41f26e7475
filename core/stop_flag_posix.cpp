// SIGINT, SIGTERM and SIGHUP set the stop flag, as the console events do on
// Windows. A signal handler runs on the main thread, so it never waits.
#include "core/stop_flag.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "core/clock.h"

namespace {
void on_stop_signal(int) { request_stop(); }

// The self-pipe the stop wakes its waiters through: a byte in it keeps the
// read end readable until clear_stop empties it. Made before main runs, so a
// signal never finds it half made.
struct WakePipe {
    int read_end = -1;
    int write_end = -1;
    WakePipe() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
        read_end = ends[0];
        write_end = ends[1];
    }
};
const WakePipe g_wake;
}  // namespace

void install_stop_handler() {
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void stop_wake_raise() {
    if (g_wake.write_end < 0) return;
    const int saved = errno;   // the interrupted code may be about to read it
    const char byte = 1;
    // A full pipe is readable already, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(g_wake.write_end, &byte, 1);
    errno = saved;
}

void stop_wake_clear() {
    char bytes[64];
    while (g_wake.read_end >= 0 && read(g_wake.read_end, bytes, sizeof bytes) > 0) {}
}

void stop_wake_wait(std::uint32_t ms) {
    if (g_wake.read_end < 0) {
        sleep_ms(ms);
        return;
    }
    // Another signal (a child ending) cuts poll short: wait out the rest.
    const std::int64_t end = monotonic_ns() + static_cast<std::int64_t>(ms) * 1000000;
    for (std::int64_t left = end - monotonic_ns(); left > 0; left = end - monotonic_ns()) {
        pollfd fd{g_wake.read_end, POLLIN, 0};
        const int got = poll(&fd, 1, static_cast<int>((left + 999999) / 1000000));
        if (got > 0 || (got < 0 && errno != EINTR)) return;
    }
}
