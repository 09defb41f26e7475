#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "core/text.h"

std::filesystem::path source_dir() { return path_from_utf8(VANTOR_SOURCE_DIR); }
std::filesystem::path build_dir() { return path_from_utf8(VANTOR_BUILD_DIR); }

std::filesystem::path make_temp_dir(std::string_view tag) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path dir = build_dir() / "test-tmp" /
        path_from_utf8(std::string(tag) + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::error_code ec;   // the name is new: nothing to clear first
    std::filesystem::create_directories(dir, ec);
    EXPECT_FALSE(ec) << ec.message();
    return dir;
}

void write_test_file(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path_to_utf8(path);
}

std::string read_test_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<nlohmann::json> logged_events(EventLog& log, std::string_view name) {
    if (log.file) std::fflush(log.file);
    std::vector<nlohmann::json> found;
    std::istringstream lines(read_test_file(log.path));
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_object() && record.value("event", "") == name) found.push_back(std::move(record));
    }
    return found;
}
