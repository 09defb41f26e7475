// The desktop helpers: programs found on PATH, run with their input from a
// temporary file and a time limit.
#include "agent/desktop_helper.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/clock.h"

extern char** environ;

namespace {

// A helper that does not finish within this time is given up on.
constexpr std::uint32_t kHelperMs = 3000;

// An unnamed temporary file holding the text, read from its start; opened
// close-on-exec, so the helper gets it as its input and nothing else does.
// -1 with errno set on failure.
int text_file(std::string_view text) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string name = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/vantor-clip-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    ::unlink(name.c_str());
    bool ok = true;
    while (ok && !text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = EIO;
        ok = written > 0;
        if (ok) text.remove_prefix(static_cast<std::size_t>(written));
    }
    if (ok && ::lseek(fd, 0, SEEK_SET) == 0) return fd;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

}  // namespace

bool have_variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

std::string find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Runs the helper with the text as its standard input (a temporary file, so a
// helper that exits early cannot raise SIGPIPE here) and its output discarded:
// xclip stays behind to serve the selection and must not hold our pipes.
HelperRun run_helper(const std::string& program, const std::vector<std::string>& args,
                     std::string_view text) {
    const int input = text_file(text);
    if (input < 0) {
        return {false, static_cast<std::uint32_t>(errno)};
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the helper's standard input only.
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The agent ignores SIGPIPE; a helper gets the ordinary default back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input);
    if (spawned != 0) {
        return {false, static_cast<std::uint32_t>(spawned)};
    }

    const std::uint32_t started = tick_now();
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            return {false, static_cast<std::uint32_t>(errno)};
        }
        if (ticks_since(tick_now(), started) >= kHelperMs) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return {false, ETIMEDOUT};
        }
        sleep_ms(5);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {true, 0};
    // Killed by a signal: no exit status to report.
    return {false, WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : ECHILD};
}

