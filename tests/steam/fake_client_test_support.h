// A test fixture that puts the fake Steam client behind the real registry
// value, hands it a JSON fixture and reads back the calls it received.
#pragma once

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/text.h"
#include "tests/support/test_support.h"
#include "tools/fake_steamclient/fake_steamclient_setup.h"

class FakeSteamTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = make_temp_dir("steam-fake");
        calls_path_ = dir_ / "calls.txt";
        set_env_var("FAKE_STEAMCLIENT_CALLS", client_visible_path(calls_path_));
        set_env_var("FAKE_STEAMCLIENT_FIXTURE", "");
        set_client_registry_value(std::nullopt, dir_ / "home");   // no value until a test sets one
    }

    void TearDown() override {
        set_client_registry_value(std::nullopt, dir_ / "home");
        set_env_var("FAKE_STEAMCLIENT_CALLS", "");
        set_env_var("FAKE_STEAMCLIENT_FIXTURE", "");
    }

    // Points the registry at a library (the fake by default).
    void point_registry_at(const std::filesystem::path& library) {
        ASSERT_TRUE(set_client_registry_value(client_visible_path(library), dir_ / "home"));
    }

    // The fake with this fixture, behind the registry value.
    void use_fixture(const nlohmann::json& fixture) {
        const std::filesystem::path file = dir_ / "fixture.json";
        write_test_file(file, fixture.dump());
        set_env_var("FAKE_STEAMCLIENT_FIXTURE", client_visible_path(file));
        point_registry_at(fake_steamclient_path(build_dir()));
    }

    // The calls the fake saw so far, one per line ("ReleaseUser 7 11").
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::istringstream in(read_test_file(calls_path_));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Index of the first call starting with `prefix` at or after `from`, or -1.
    long call_index(const std::string& prefix, long from = 0) const {
        const auto lines = calls();
        for (std::size_t i = static_cast<std::size_t>(from); i < lines.size(); ++i) {
            if (lines[i].rfind(prefix, 0) == 0) return static_cast<long>(i);
        }
        return -1;
    }

    long count_calls(const std::string& prefix) const {
        long n = 0;
        for (const auto& line : calls()) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    std::filesystem::path dir_;
    std::filesystem::path calls_path_;
};

// The records of a log file, each parsed, without "ts" and "local".
inline std::vector<nlohmann::json> log_records(const EventLog& log) {
    std::vector<nlohmann::json> records;
    std::istringstream in(read_test_file(log.path));
    for (std::string line; std::getline(in, line);) {
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(record.is_discarded()) << line;
        if (record.is_discarded()) continue;
        record.erase("ts");
        record.erase("local");
        records.push_back(record);
    }
    return records;
}

inline std::vector<nlohmann::json> records_named(const EventLog& log, const std::string& name) {
    std::vector<nlohmann::json> found;
    for (auto& record : log_records(log)) {
        if (record.value("event", "") == name) found.push_back(record);
    }
    return found;
}
