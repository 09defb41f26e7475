#include "core/files.h"

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
