// No notification area away from Windows: the run keeps its console. The
// clipboard is reached through wl-copy (Wayland), xclip or xsel (X11), and the
// desktop's notification service through notify-send.
#include "agent/tray.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/clock.h"

extern char** environ;

namespace {

// A helper that does not finish within this time is given up on.
constexpr std::uint32_t kClipboardHelperMs = 3000;

bool have_variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The first executable `name` on PATH.
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

// Runs the helper with the text as its standard input (a temporary file, so a
// helper that exits early cannot raise SIGPIPE here) and its output discarded:
// xclip stays behind to serve the selection and must not hold our pipes.
bool run_helper(const std::string& program, const std::vector<std::string>& args,
                std::string_view text, std::uint32_t& error_code) {
    const int input = text_file(text);
    if (input < 0) {
        error_code = static_cast<std::uint32_t>(errno);
        return false;
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
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input);
    if (spawned != 0) {
        error_code = static_cast<std::uint32_t>(spawned);
        return false;
    }

    const std::uint32_t started = tick_now();
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            error_code = static_cast<std::uint32_t>(errno);
            return false;
        }
        if (ticks_since(tick_now(), started) >= kClipboardHelperMs) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            error_code = ETIMEDOUT;
            return false;
        }
        sleep_ms(5);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        error_code = 0;
        return true;
    }
    error_code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : ECHILD;
    if (error_code == 0) error_code = ECHILD;
    return false;
}

}  // namespace

bool tray_offered() { return false; }

bool tray_create(TrayIcon& tray, std::string& error) {
    tray.window = nullptr;
    tray.icon_added = false;
    error = "no notification area on this system (the tray icon needs Windows)";
    return false;
}

bool tray_hide_console(TrayIcon&) { return false; }

void tray_pump() {}

void tray_set_items(TrayIcon& tray, std::vector<RoomMenuItem> items) {
    tray.items = std::move(items);
}

void tray_destroy(TrayIcon& tray) {
    tray.window = nullptr;
    tray.icon_added = false;
    tray.console_hidden = false;
    tray.items.clear();
}

bool copy_to_clipboard(std::string_view text, std::uint32_t& error_code, const TrayIcon*) {
    if (have_variable("WAYLAND_DISPLAY")) {
        const std::string program = find_program("wl-copy");
        if (!program.empty()) return run_helper(program, {}, text, error_code);
    }
    if (have_variable("DISPLAY")) {
        std::string program = find_program("xclip");
        if (!program.empty())
            return run_helper(program, {"-selection", "clipboard"}, text, error_code);
        program = find_program("xsel");
        if (!program.empty()) return run_helper(program, {"--clipboard", "--input"}, text, error_code);
    }
    error_code = ENOENT;   // no display with a clipboard helper
    return false;
}

std::string clipboard_missing_hint() {
    const bool wayland = have_variable("WAYLAND_DISPLAY");
    const bool x11 = have_variable("DISPLAY");
    if (wayland && !find_program("wl-copy").empty()) return {};
    if (x11 && (!find_program("xclip").empty() || !find_program("xsel").empty())) return {};
    if (wayland) {
        return "clipboard: wl-copy is not installed -- install the package wl-clipboard "
               "(sudo apt install wl-clipboard) to get room links copied";
    }
    if (x11) {
        return "clipboard: neither xclip nor xsel is installed -- install the package xclip "
               "(sudo apt install xclip) to get room links copied";
    }
    return "clipboard: no desktop session (neither WAYLAND_DISPLAY nor DISPLAY is set) -- "
           "room links are shown here only";
}

void notify_room_ready(std::string_view url, bool copied) {
    // notify-send talks to the session bus; without one it would only fail.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool bus = have_variable("DBUS_SESSION_BUS_ADDRESS") ||
                     (runtime && *runtime && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0);
    const std::string program = find_program("notify-send");
    if (!bus || program.empty()) return;
    std::uint32_t ignored = 0;
    run_helper(program,
               {"--app-name=vantor", copied ? "Room ready -- link copied" : "Room ready",
                std::string(url)},
               {}, ignored);
}
