// A test fixture that puts the fake Steam client behind the real registry
// value, hands it a JSON fixture and reads back the calls it received.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "tests/support/test_support.h"
#include "tools/fake_steamclient/fake_steamclient_setup.h"

class FakeSteamTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_env_var("FAKE_STEAMCLIENT_CALLS", client_visible_path(dir_ / "calls.txt"));
        set_client_registry_value(std::nullopt, dir_ / "home");   // no value until a test sets one
    }
    void TearDown() override {
        set_client_registry_value(std::nullopt, dir_ / "home");
        set_env_var("FAKE_STEAMCLIENT_CALLS", "");
        set_env_var("FAKE_STEAMCLIENT_FIXTURE", "");
    }
    void point_registry_at(const std::filesystem::path& library) {
        ASSERT_TRUE(set_client_registry_value(client_visible_path(library), dir_ / "home"));
    }
    // The fake with this fixture, behind the registry value.
    void use_fixture(const nlohmann::json& fixture) {
        write_test_file(dir_ / "fixture.json", fixture.dump());
        set_env_var("FAKE_STEAMCLIENT_FIXTURE", client_visible_path(dir_ / "fixture.json"));
        point_registry_at(fake_steamclient_path(build_dir()));
    }
    // The calls the fake saw so far that start with `prefix`, one per line
    // ("ReleaseUser 7 11").
    std::vector<std::string> calls(const std::string& prefix = "") const {
        std::vector<std::string> lines;
        std::istringstream in(read_test_file(dir_ / "calls.txt"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        return lines;
    }
    long count_calls(const std::string& prefix) const { return static_cast<long>(calls(prefix).size()); }

    std::filesystem::path dir_ = make_temp_dir("steam-fake");
};

