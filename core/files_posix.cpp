#include "core/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <system_error>

#include "core/text.h"

std::optional<std::filesystem::path> user_data_home() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return path_from_utf8(xdg);
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return path_from_utf8(home) / ".local" / "share";
    return std::nullopt;
}

std::string user_data_home_text() {
    const std::optional<std::filesystem::path> home = user_data_home();
    return home ? path_to_utf8(*home) : std::string();
}

std::optional<std::filesystem::path> own_program_path() {
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || program.empty()) return std::nullopt;
    return program;
}

std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return content;
}

static bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return ::fsync(fd) == 0;
}

bool write_whole_file(const std::filesystem::path& link_or_file, std::string_view bytes, FileAccess access) {
    // Through a link to its target: renaming over the link would replace it.
    const std::filesystem::path path = final_link_target(link_or_file);
    const std::filesystem::path parent = parent_folder_of(path);
    if (!parent.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(parent, ignored);
    }
    static std::atomic<unsigned> counter{0};
    const std::string temp = path.native() + ".tmp" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1));
    const mode_t group_other = S_IRWXG | S_IRWXO;
    const mode_t fresh = access == FileAccess::owner_only ? 0600 : 0644;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, fresh);
    if (fd < 0) return false;
    // The replacement keeps the permission bits of the file it replaces: a
    // settings file the user made private (0600) stays private; one holding
    // the token is made private whatever it was.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        mode_t mode = existing.st_mode & 07777;
        if (access == FileAccess::owner_only) mode &= ~group_other;
        if (::fchmod(fd, mode) != 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
    }
    const bool written = write_all(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (written && closed && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

bool restrict_to_owner(const std::filesystem::path& path) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) != 0) return false;
    const mode_t mode = existing.st_mode & 07777;
    const mode_t tight = mode & ~static_cast<mode_t>(S_IRWXG | S_IRWXO);
    return tight == mode || ::chmod(path.c_str(), tight) == 0;
}

std::FILE* open_for_append(const std::filesystem::path& path) {
    // Close-on-exec: a helper the agent starts (the clipboard's) must not
    // hold the event log open.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "ab");
    if (!file) ::close(fd);
    return file;
}

std::size_t root_name_length(const std::filesystem::path&) { return 0; }
