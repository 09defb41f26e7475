// The -condebug verdict of the start-up checks (their order and the other
// checks are seen end to end in tests/agent/startup_test.py).
#include "steam/preflight.h"

#include <gtest/gtest.h>

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
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const PreflightCheck check = condebug_check(row.running, row.age, row.log);
        EXPECT_EQ(check.name, "-condebug");
        EXPECT_EQ(check.ok, row.ok);
        EXPECT_EQ(check.detail, row.detail);
    }
}

}  // namespace
