#include "steam/preflight.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(FileAgeText, Bands) {
    EXPECT_EQ(file_age_text(-1), "unknown age");
    EXPECT_EQ(file_age_text(-5000), "unknown age");
    EXPECT_EQ(file_age_text(0), "modified just now");
    EXPECT_EQ(file_age_text(59), "modified just now");
    EXPECT_EQ(file_age_text(60), "modified 1 min ago");
    EXPECT_EQ(file_age_text(719), "modified 11 min ago");
    EXPECT_EQ(file_age_text(7199), "modified 119 min ago");
    EXPECT_EQ(file_age_text(7200), "modified 2 h ago");
    EXPECT_EQ(file_age_text(10799), "modified 2 h ago");
    EXPECT_EQ(file_age_text(400LL * 24 * 3600), "modified 9600 h ago");
}

TEST(FileAgeSeconds, ReadsTheLastWrite) {
    const fs::path dir = make_temp_dir("file-age");
    EXPECT_EQ(file_age_seconds(dir / "missing.log"), -1);

    const fs::path log = dir / "console.log";
    write_test_file(log, "x");
    std::int64_t fresh = file_age_seconds(log);
    EXPECT_GE(fresh, 0);
    EXPECT_LT(fresh, 30);

    fs::last_write_time(log, fs::file_time_type::clock::now() - std::chrono::hours(2));
    std::int64_t old = file_age_seconds(log);
    EXPECT_GE(old, 7200);
    EXPECT_LT(old, 7230);
    EXPECT_EQ(file_age_text(old), "modified 2 h ago");
}

TEST(LastLineContaining, FindsTheLastTrimmedLine) {
    const std::string log =
        "[CommandLine] \"cs2.exe\" -steam\r\n"
        "noise\n"
        "  \t[CommandLine] \"cs2.exe\" -steam -condebug +exec vantor \r\n"
        "more noise\n";
    EXPECT_EQ(last_line_containing(log, "[CommandLine]"),
              "[CommandLine] \"cs2.exe\" -steam -condebug +exec vantor");
    EXPECT_EQ(last_line_containing(log, "absent"), "");
    EXPECT_EQ(last_line_containing("", "[CommandLine]"), "");
    // At the very start and the very end of the text, without line feeds.
    EXPECT_EQ(last_line_containing("[CommandLine] a", "[CommandLine]"), "[CommandLine] a");
    EXPECT_EQ(last_line_containing("x\n[CommandLine]", "[CommandLine]"), "[CommandLine]");
    EXPECT_EQ(last_line_containing("x\n\n", "x"), "x");
}

TEST(CondebugCheck, RunningGameNeedsAFreshLog) {
    const std::optional<std::string> text = std::string("[CommandLine] cs2 -steam\n");
    PreflightCheck fresh = condebug_check(true, 299, text);
    EXPECT_EQ(fresh.name, "-condebug");
    EXPECT_TRUE(fresh.ok);
    EXPECT_EQ(fresh.detail, "console.log is being written right now: [CommandLine] cs2 -steam");

    PreflightCheck stale = condebug_check(true, 300, text);
    EXPECT_FALSE(stale.ok);
    EXPECT_EQ(stale.detail,
              "CS2 is running but console.log has not changed for 5 min ago -- it was launched "
              "WITHOUT -condebug, so no `status` will ever be read. Add: -condebug +exec vantor");

    // The command line is not consulted while the game runs.
    EXPECT_FALSE(condebug_check(true, 720, std::string("[CommandLine] -condebug")).ok);
    EXPECT_TRUE(contains(condebug_check(true, 720, text).detail, "has not changed for 12 min ago --"));
    EXPECT_TRUE(contains(condebug_check(true, 59, std::nullopt).detail, "right now: "));

    PreflightCheck unknown = condebug_check(true, -1, text);
    EXPECT_FALSE(unknown.ok);
    EXPECT_TRUE(contains(unknown.detail, "has not changed for unknown age --"));
}

TEST(CondebugCheck, StoppedGameNeedsTheFlagInTheLastCommandLine) {
    PreflightCheck used = condebug_check(
        false, 99999,
        std::string("[CommandLine] cs2 -steam\n[CommandLine] cs2 -steam -condebug +exec vantor\r\n"));
    EXPECT_TRUE(used.ok);
    EXPECT_EQ(used.detail,
              "CS2 not running; last session used: [CommandLine] cs2 -steam -condebug +exec vantor");

    // The last command line decides, and the flag is case-sensitive.
    PreflightCheck last = condebug_check(
        false, 10, std::string("[CommandLine] cs2 -condebug\n[CommandLine] cs2 -Condebug\n"));
    EXPECT_FALSE(last.ok);
    EXPECT_EQ(last.detail,
              "CS2 not running and the last session had no -condebug: [CommandLine] cs2 -Condebug");

    const std::string none = "CS2 not running and the last session had no -condebug: "
                             "no [CommandLine] line in console.log";
    EXPECT_EQ(condebug_check(false, 10, std::string("-condebug alone\n")).detail, none);
    EXPECT_EQ(condebug_check(false, 10, std::nullopt).detail, none);
}

TEST(RunPreflight, OrderAndPresenceFollowTheInstall) {
    // Without an install the console.log checks are left out.
    auto checks = run_preflight(std::nullopt, 1);
    ASSERT_EQ(checks.size(), 4u);
    EXPECT_EQ(checks[0].name, "steam client");
    EXPECT_EQ(checks[1].name, "cs2 install");
    EXPECT_FALSE(checks[1].ok);
    EXPECT_EQ(checks[1].detail, "no library folder holds app 730");
    EXPECT_EQ(checks[2].name, "cs2 process");
    EXPECT_TRUE(checks[2].ok);
    EXPECT_EQ(checks[3].name, "gsi port");
    EXPECT_TRUE(starts_with(checks[3].detail, "127.0.0.1:1 is "));

    const fs::path dir = make_temp_dir("preflight-Игра");
    Cs2Install install{dir, dir, dir / "csgo", dir / "csgo" / "cfg", dir / "csgo" / "console.log"};
    checks = run_preflight(install, 47474);
    ASSERT_EQ(checks.size(), 5u);
    EXPECT_EQ(checks[1].detail, path_to_utf8(install.game_dir));
    EXPECT_EQ(checks[2].name, "console.log");
    EXPECT_FALSE(checks[2].ok);
    EXPECT_EQ(checks[2].detail, "missing -- CS2 has not run with -condebug yet");
    EXPECT_EQ(checks[3].name, "cs2 process");

    write_test_file(install.console_log, "[CommandLine] cs2 -condebug\n");
    checks = run_preflight(install, 47474);
    ASSERT_EQ(checks.size(), 6u);
    EXPECT_TRUE(checks[2].ok);
    EXPECT_EQ(checks[2].detail, path_to_utf8(install.console_log) + " (modified just now)");
    EXPECT_EQ(checks[3].name, "-condebug");
    EXPECT_EQ(checks[4].name, "cs2 process");
    EXPECT_EQ(checks[5].name, "gsi port");

    // A folder named console.log is not a log.
    fs::remove(install.console_log);
    fs::create_directories(install.console_log);
    checks = run_preflight(install, 47474);
    ASSERT_EQ(checks.size(), 5u);
    EXPECT_FALSE(checks[2].ok);
}

TEST(GsiPortFree, TheProbeReleasesThePort) {
    int port = 47600;
    while (port < 47700 && !gsi_port_free(port)) ++port;
    ASSERT_LT(port, 47700);
    // Free again right away: the probe closed its socket.
    EXPECT_TRUE(gsi_port_free(port));
    EXPECT_TRUE(gsi_port_free(port));
    EXPECT_FALSE(gsi_port_free(-1));
    EXPECT_FALSE(gsi_port_free(65536));
}
