// Small helpers shared by the unit tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

struct EventLog;

// A fresh, empty folder for one test, under the build folder's "test-tmp".
// Names may carry non-ASCII text to exercise the path conversions.
std::filesystem::path make_temp_dir(std::string_view tag);

std::filesystem::path source_dir();
std::filesystem::path build_dir();

// Writes bytes to a file (creating folders), failing the test on error.
void write_test_file(const std::filesystem::path& path, std::string_view bytes);
std::string read_test_file(const std::filesystem::path& path);

// The records of one event in the log's file, oldest first (flushed first).
std::vector<nlohmann::json> logged_events(EventLog& log, std::string_view name);
