// The start-up checks: the -condebug verdict, the order of the checks and
// the port probe.
#include "steam/preflight.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(CondebugCheck, ARunningGameNeedsAFreshLogAStoppedOneTheFlag) {
    const std::string plain = "[CommandLine] cs2 -steam\n";
    const auto stale = [](const std::string& age) {
        return "CS2 is running but console.log has not changed for " + age +
               " -- it was launched WITHOUT -condebug, so no `status` will ever be read. Add: -condebug +exec vantor";
    };
    const struct {
        const char* name; bool running; std::int64_t age; std::optional<std::string> log; bool ok; std::string detail;
    } rows[] = {
        {"running, written just now", true, 299, plain, true, "console.log is being written right now: [CommandLine] cs2 -steam"},
        {"running, five minutes old", true, 300, plain, false, stale("5 min ago")},
        {"running: the command line is not consulted", true, 720, std::string("[CommandLine] -condebug"), false, stale("12 min ago")},
        {"running, age unknown", true, -1, plain, false, stale("unknown age")},
        {"stopped, the last session had it (trimmed)", false, 99999,
         plain + "  \t[CommandLine] cs2 -steam -condebug +exec vantor \r\nnoise\n", true,
         "CS2 not running; last session used: [CommandLine] cs2 -steam -condebug +exec vantor"},
        {"stopped: the last command line decides, case-sensitive", false, 10,
         std::string("[CommandLine] cs2 -condebug\n[CommandLine] cs2 -Condebug"), false,
         "CS2 not running and the last session had no -condebug: [CommandLine] cs2 -Condebug"},
        {"stopped, no command line", false, 10, std::string("-condebug alone\n"), false,
         "CS2 not running and the last session had no -condebug: no [CommandLine] line in console.log"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const PreflightCheck check = condebug_check(row.running, row.age, row.log);
        EXPECT_EQ(check.name, "-condebug");
        EXPECT_EQ(check.ok, row.ok);
        EXPECT_EQ(check.detail, row.detail);
    }
}

TEST(RunPreflight, TheChecksFollowTheInstall) {
    const fs::path dir = make_temp_dir("preflight-Игра");
    const Cs2Install install{dir, dir, dir / "csgo", dir / "csgo" / "cfg", dir / "csgo" / "console.log"};
    const auto names = [](const std::vector<PreflightCheck>& checks) {
        std::string out;
        for (const PreflightCheck& c : checks) out += c.name + ", ";
        return out;
    };
    const std::vector<PreflightCheck> none = run_preflight(std::nullopt, 47474);
    EXPECT_EQ(names(none), "steam client, cs2 install, cs2 process, gsi port, ");
    EXPECT_EQ(none[1].detail, "no library folder holds app 730");
    EXPECT_FALSE(none[1].ok);
    EXPECT_TRUE(none[2].ok);   // a stopped game can be started later
    EXPECT_EQ(run_preflight(install, 47474)[2].detail, "missing -- CS2 has not run with -condebug yet");
    write_test_file(install.console_log, "[CommandLine] cs2 -condebug\n");
    const std::vector<PreflightCheck> checks = run_preflight(install, 47474);
    ASSERT_EQ(checks.size(), 6u);
    EXPECT_EQ(checks[1].detail, path_to_utf8(install.game_dir));
    EXPECT_EQ(checks[2].detail, path_to_utf8(install.console_log) + " (modified just now)");
    EXPECT_EQ(names(checks), "steam client, cs2 install, console.log, -condebug, cs2 process, gsi port, ");
    fs::remove(install.console_log);
    fs::create_directories(install.console_log);   // a folder named console.log is not a log
    EXPECT_FALSE(run_preflight(install, 47474)[2].ok);
}

TEST(GsiPortFree, TheProbeReleasesThePort) {
    int port = 47600;
    while (port < 47700 && !gsi_port_free(port)) ++port;
    ASSERT_LT(port, 47700);
    EXPECT_TRUE(gsi_port_free(port));   // free again right away
    EXPECT_FALSE(gsi_port_free(-1));
    EXPECT_FALSE(gsi_port_free(65536));
}

}  // namespace
