// The command-line parser: every rule of its table, first error wins.
#include "agent/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace {

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
    EXPECT_EQ(o.error, "");
    EXPECT_EQ((std::vector<bool>{o.coplay_once, o.write_cfg, o.tray, o.help, o.debug, o.gsi_port_given}),
              (std::vector<bool>{true, false, false, true, false, false}));
    EXPECT_EQ(o.replay_path, "--debug");
    EXPECT_EQ(path_to_utf8(o.log_dir), folder);
    EXPECT_EQ(path_to_utf8(o.console_log), "--help");
    EXPECT_EQ(o.api_base, "https://x.test/api");
    EXPECT_EQ(o.gsi_port, 47474u);
}

TEST(ParseOptions, UsageErrorsAndPorts) {
    const std::string range = "--gsi-port must be 1..65535";
    struct Row { const char* name; std::vector<std::string> args; std::string error; std::uint32_t port = 0; };
    const Row rows[] = {
        {"the lowest port", {"--gsi-port", "1"}, "", 1},
        {"the highest port", {"--gsi-port", "65535"}, "", 65535},
        {"digits up to the first other character", {"--gsi-port", "8080x"}, "", 8080},
        {"leading blanks and a plus sign", {"--gsi-port", " \t+443"}, "", 443},
        {"port 0", {"--gsi-port", "0"}, range},
        {"one past the highest", {"--gsi-port", "65536"}, range},
        {"negative", {"--gsi-port", "-1"}, range},
        {"empty", {"--gsi-port", ""}, range},
        {"a blank after the sign", {"--gsi-port", "- 5"}, range},
        {"wraps past 32 bits to 1", {"--gsi-port", "4294967297"}, range},
        {"negative wraps to 1", {"--gsi-port", "-4294967295"}, range},
        {"a port without value reads as 0", {"--debug", "--gsi-port"}, range},
        {"--replay without value", {"--replay"}, "--replay needs a value"},
        {"--log-dir without value", {"--log-dir"}, "--log-dir needs a value"},
        {"--console-log without value", {"--console-log"}, "--console-log needs a value"},
        {"--api-base without value", {"--debug", "--api-base"}, "--api-base needs a value"},
        {"an empty --api-base is a value", {"--api-base", ""}, ""},
        {"options are case sensitive", {"--HELP"}, "unknown argument: --HELP"},
        {"help does not hide an error after it", {"--help", "--bogus"}, "unknown argument: --bogus"},
        {"the first error wins", {"--gsi-port", "0", "--bogus"}, range},
        {"an empty argument", {"", "--bogus"}, "unknown argument: "},
        {"no option takes =", {"--debug="}, "unknown argument: --debug="},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const AgentOptions options = parse(row.args);
        EXPECT_EQ(options.error, row.error);
        if (row.port) { EXPECT_EQ(options.gsi_port, row.port); }
    }
    EXPECT_FALSE(parse({"--bogus", "--debug"}).debug);   // parsing stops at the error
}

}  // namespace
