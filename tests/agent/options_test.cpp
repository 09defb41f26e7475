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

TEST(ParseOptions, EveryOptionIsTakenAndValuesWhateverTheyLookLike) {
    const std::string folder = "C:\\Users\\Zo\xc3\xab\\\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xae";   // stays UTF-8
    const AgentOptions o = parse({"--coplay-once", "--no-write-cfg", "--no-tray", "-h", "--replay", "--debug",
                                  "--log-dir", folder, "--console-log", "--help", "--api-base", "https://x.test/api"});
    EXPECT_EQ((std::vector<bool>{o.error.empty(), o.coplay_once, o.write_cfg, o.tray, o.help, o.debug, o.gsi_port_given}),
              (std::vector<bool>{true, true, false, false, true, false, false}));
    EXPECT_EQ(o.replay_path + "|" + path_to_utf8(o.log_dir) + "|" + path_to_utf8(o.console_log) + "|" + o.api_base +
              "|" + std::to_string(o.gsi_port), "--debug|" + folder + "|--help|https://x.test/api|47474");
}

TEST(ParseOptions, UsageErrorsAndPorts) {
    const std::string range = "--gsi-port must be 1..65535";
    struct Row { const char* name; std::vector<std::string> args; std::string error; std::uint32_t port = 0; };
    const Row rows[] = {
        {"the lowest port", {"--gsi-port", "1"}, "", 1},
        {"the highest port", {"--gsi-port", "65535"}, "", 65535},
        {"leading blanks and a plus sign", {"--gsi-port", " \t+443"}, "", 443},
        {"a blank after the sign", {"--gsi-port", "- 5"}, range},
        {"negative wraps to 1", {"--gsi-port", "-4294967295"}, range},
        {"--console-log without value", {"--console-log"}, "--console-log needs a value"},
        {"--api-base without value", {"--debug", "--api-base"}, "--api-base needs a value"},
        {"an empty --api-base is a value", {"--api-base", ""}, ""},
        {"the first error wins", {"--gsi-port", "0", "--bogus"}, range},
        {"no option takes =", {"--debug="}, "unknown argument: --debug="},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const AgentOptions options = parse(row.args);
        EXPECT_EQ(options.error, row.error);
        if (row.port) { EXPECT_EQ(options.gsi_port, row.port); }
    }
}
