// The command-line parser. The usage errors the player sees, and their exit
// code, are in tests/agent/command_line_test.py; these are the edges.
#include "agent/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

AgentOptions parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vantor-agent");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return parse_options(static_cast<int>(argv.size()), argv.data());
}

// Every option is used by the end-to-end tests; a value is taken whatever it looks like.
TEST(ParseOptions, AValueIsTakenWhateverItLooksLike) {
    const AgentOptions o = parse({"--replay", "--debug", "--console-log", "--help", "--log-dir", "-h"});
    EXPECT_EQ(o.replay_path + "|" + path_to_utf8(o.console_log) + "|" + path_to_utf8(o.log_dir), "--debug|--help|-h");
    EXPECT_FALSE(o.debug);
    EXPECT_FALSE(o.help);
    EXPECT_EQ(o.error, "");
}

TEST(ParseOptions, UsageErrorsAndPorts) {
    const std::string range = "--gsi-port must be 1..65535";
    struct Row { const char* name; std::vector<std::string> args; std::string error; std::uint32_t port = 0; };
    const Row rows[] = {
        {"the lowest port", {"--gsi-port", "1"}, "", 1},
        {"the highest port", {"--gsi-port", "65535"}, "", 65535},
        {"leading blanks and a plus sign", {"--gsi-port", " \t+443"}, "", 443},
        {"a blank after the sign", {"--gsi-port", "- 5"}, range},
        {"--api-base without value", {"--debug", "--api-base"}, "--api-base needs a value"},
        {"an empty --api-base is a value", {"--api-base", ""}, ""},
        {"no option takes =", {"--debug="}, "unknown argument: --debug="},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const AgentOptions options = parse(row.args);
        EXPECT_EQ(options.error, row.error);
        if (row.port) { EXPECT_EQ(options.gsi_port, row.port); }
    }
}
