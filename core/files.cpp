#include "core/files.h"

#include <cstdio>
#include <system_error>

#include "core/clock.h"
#include "core/text.h"

namespace {

template <typename Char>
bool is_separator(Char c) {
    return c == Char('\\') || c == Char('/');
}

}  // namespace

std::optional<std::filesystem::path> agent_data_folder() {
    std::optional<std::filesystem::path> home = user_data_home();
    if (!home) return std::nullopt;
    return *home / "vantor";
}

std::filesystem::path parent_folder_of(const std::filesystem::path& path) {
    const auto& s = path.native();
    const std::size_t root = root_name_length(path);
    std::size_t end = s.size();
    while (end > root && !is_separator(s[end - 1])) --end;   // the last component
    std::size_t kept = end;
    while (kept > root && is_separator(s[kept - 1])) --kept; // its separators
    if (kept == root && end > root) kept = root + 1;         // never into the root
    return std::filesystem::path(s.substr(0, kept));
}

bool folder_exists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec) && !ec;
}

bool regular_file_exists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) && !ec;
}

std::filesystem::path final_link_target(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    // As many hops as the kernel follows before it gives up (ELOOP).
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(current, ec);
        if (ec || !std::filesystem::is_symlink(status)) return current;
        const std::filesystem::path target = std::filesystem::read_symlink(current, ec);
        if (ec || target.empty()) return current;
        current = target.is_absolute() ? target : parent_folder_of(current) / target;
    }
    return path;
}

std::filesystem::path keep_broken_file(const std::filesystem::path& file,
                                       const std::optional<std::string>& content, FileAccess access) {
    const CivilTime now = local_time(unix_now()).value_or(CivilTime{});
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    const std::string stem = path_to_utf8(file.stem());
    const std::string extension = path_to_utf8(file.extension());
    for (int n = 1; n <= 99; ++n) {
        // Built by appending: GCC 12 at -O3 warns falsely about "literal" + std::string.
        std::string name = stem;
        name += ".broken-";
        name += stamp;
        if (n > 1) {
            name += '-';
            name += std::to_string(n);
        }
        name += extension;
        const std::filesystem::path aside = parent_folder_of(file) / path_from_utf8(name);
        std::error_code ec;
        // Anything there, a dangling link included, is not overwritten.
        if (std::filesystem::symlink_status(aside, ec).type() != std::filesystem::file_type::not_found) continue;
        if (content) return write_whole_file(aside, *content, access) ? aside : std::filesystem::path();
        std::filesystem::rename(file, aside, ec);
        return ec ? std::filesystem::path() : aside;
    }
    return {};
}
