#include "steam/preflight.h"

#include <chrono>
#include <system_error>

#include "core/files.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace {

// Below this age a running CS2 is taken to be writing console.log.
constexpr std::int64_t kFreshLogSeconds = 300;

PreflightCheck gsi_port_check(int port) {
    std::string where = "127.0.0.1:" + std::to_string(port);
    if (gsi_port_free(port)) return {"gsi port", true, where + " is free"};
    return {"gsi port", false, where + " is already in use"};
}

}  // namespace

PreflightCheck condebug_check(bool cs2_running, std::int64_t console_log_age,
                              const std::optional<std::string>& console_log_text) {
    std::string line;
    if (console_log_text) line = last_line_containing(*console_log_text, "[CommandLine]");

    if (cs2_running) {
        if (console_log_age >= 0 && console_log_age < kFreshLogSeconds) {
            return {"-condebug", true, "console.log is being written right now: " + line};
        }
        std::string age = file_age_text(console_log_age);
        if (starts_with(age, "modified ")) age.erase(0, 9);
        return {"-condebug", false,
                "CS2 is running but console.log has not changed for " + age +
                    " -- it was launched WITHOUT -condebug, so no `status` will ever be read. "
                    "Add: -condebug +exec vantor"};
    }
    if (contains(line, "-condebug")) {
        return {"-condebug", true, "CS2 not running; last session used: " + line};
    }
    return {"-condebug", false,
            "CS2 not running and the last session had no -condebug: " +
                (line.empty() ? std::string("no [CommandLine] line in console.log") : line)};
}

std::vector<PreflightCheck> run_preflight(const std::optional<Cs2Install>& install, int gsi_port) {
    std::vector<PreflightCheck> checks;
    checks.push_back(steam_client_check());

    if (install) {
        checks.push_back({"cs2 install", true, path_to_utf8(install->game_dir)});
    } else {
        checks.push_back({"cs2 install", false, "no library folder holds app 730"});
    }

    // One probe serves both the -condebug and the cs2 process checks.
    const bool running = is_cs2_running();

    if (install) {
        if (regular_file_exists(install->console_log)) {
            std::int64_t age = file_age_seconds(install->console_log);
            checks.push_back({"console.log", true,
                              path_to_utf8(install->console_log) + " (" + file_age_text(age) + ")"});
            checks.push_back(condebug_check(running, age, read_whole_file(install->console_log)));
        } else {
            checks.push_back({"console.log", false, "missing -- CS2 has not run with -condebug yet"});
        }
    }

    checks.push_back({"cs2 process", true, running ? "running" : "not running (start it later)"});
    checks.push_back(gsi_port_check(gsi_port));
    return checks;
}

std::int64_t file_age_seconds(const fs::path& path) {
    std::error_code ec;
    fs::file_time_type written = fs::last_write_time(path, ec);
    if (ec) return -1;
    auto age = fs::file_time_type::clock::now() - written;
    return std::chrono::duration_cast<std::chrono::seconds>(age).count();
}

std::string file_age_text(std::int64_t age) {
    if (age < 0) return "unknown age";
    if (age < 60) return "modified just now";
    if (age < 7200) return "modified " + std::to_string(age / 60) + " min ago";
    return "modified " + std::to_string(age / 3600) + " h ago";
}

std::string last_line_containing(std::string_view text, std::string_view needle) {
    std::size_t hit = text.rfind(needle);
    if (hit == std::string_view::npos) return {};
    std::size_t begin = text.rfind('\n', hit);
    begin = begin == std::string_view::npos ? 0 : begin + 1;
    std::size_t end = text.find('\n', hit + needle.size());
    if (end == std::string_view::npos) end = text.size();
    return std::string(trim(text.substr(begin, end - begin)));
}
