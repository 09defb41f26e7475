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

TEST(ParseOptions, DefaultsAndEveryOption) {
    EXPECT_EQ(parse({}).gsi_port, 47474u);
    EXPECT_FALSE(parse({}).gsi_port_given);

    const AgentOptions options =
        parse({"--coplay-once", "--no-write-cfg", "--no-tray", "--debug", "-h", "--replay", "a b.log",
               "--log-dir", "logs", "--console-log", "c.log", "--gsi-port", "8080", "--api-base",
               "https://example.test/api"});
    EXPECT_EQ(options.error, "");
    EXPECT_TRUE(options.coplay_once);
    EXPECT_FALSE(options.write_cfg);
    EXPECT_FALSE(options.tray);
    EXPECT_TRUE(options.debug);
    EXPECT_TRUE(options.help);
    EXPECT_EQ(options.replay_path, "a b.log");
    EXPECT_EQ(path_to_utf8(options.log_dir), "logs");
    EXPECT_EQ(path_to_utf8(options.console_log), "c.log");
    EXPECT_EQ(options.gsi_port, 8080u);
    EXPECT_TRUE(options.gsi_port_given);
    EXPECT_EQ(options.api_base, "https://example.test/api");
}

TEST(ParseOptions, ValuesAreTakenWhateverTheyLookLike) {
    const AgentOptions options = parse({"--log-dir", "--debug", "--replay", "--help"});
    EXPECT_EQ(options.error, "");
    EXPECT_EQ(path_to_utf8(options.log_dir), "--debug");
    EXPECT_FALSE(options.debug);
    EXPECT_EQ(options.replay_path, "--help");
    EXPECT_FALSE(options.help);
    EXPECT_EQ(parse({"--api-base", ""}).error, "");

    // Non-ASCII paths survive as UTF-8.
    const std::string folder = "C:\\Users\\Zo\xc3\xab\\\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xae";
    const AgentOptions paths = parse({"--log-dir", folder, "--console-log", folder + "\\console.log"});
    EXPECT_EQ(path_to_utf8(paths.log_dir), folder);
    EXPECT_EQ(path_to_utf8(paths.console_log), folder + "\\console.log");
}

TEST(ParseOptions, ReadsThePortLikeADecimalInteger) {
    // A port of 0 in the table means a range error is expected.
    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {"1", 1}, {"65535", 65535}, {"8080x", 8080}, {" \t+443", 443}, {"0", 0}, {"65536", 0},
        {"-1", 0}, {"", 0}, {"- 5", 0}, {"4294967297", 0}, {"-4294967295", 0}};
    for (const auto& [value, port] : cases) {
        const AgentOptions options = parse({"--gsi-port", value});
        EXPECT_TRUE(options.gsi_port_given) << value;
        EXPECT_EQ(options.error, port ? "" : "--gsi-port must be 1..65535") << value;
        if (port) {
            EXPECT_EQ(options.gsi_port, port) << value;
        }
    }
}

TEST(ParseOptions, OnlyTheFirstErrorIsReported) {
    for (const char* option : {"--replay", "--log-dir", "--console-log", "--api-base"}) {
        EXPECT_EQ(parse({"--debug", option}).error, std::string(option) + " needs a value");
    }
    // An empty port reads as 0, so the range check speaks instead.
    EXPECT_EQ(parse({"--gsi-port"}).error, "--gsi-port must be 1..65535");

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--HELP"}, "unknown argument: --HELP"},
        {{"--help", "--bogus"}, "unknown argument: --bogus"},
        {{"--bogus", "--help"}, "unknown argument: --bogus"},
        {{"--gsi-port", "0", "--bogus"}, "--gsi-port must be 1..65535"},
        {{"", "--bogus"}, "unknown argument: "},
        {{"--debug="}, "unknown argument: --debug="}};
    for (const auto& [args, error] : cases) EXPECT_EQ(parse(args).error, error) << args[0];
    // Parsing stops at the error: later options are not applied.
    EXPECT_FALSE(parse({"--bogus", "--debug"}).debug);
}

TEST(HelpText, OptionDescriptionsLineUpAtColumnTwentySix) {
    const std::string& text = help_text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find(std::string("(default ") + kDefaultApiBase + ", saved in agent.json)\n"),
              std::string::npos);
    std::size_t start = 0;
    int option_lines = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("  ", 0) != 0) continue;
        ASSERT_GT(line.size(), 26u) << line;
        EXPECT_EQ(line[25], ' ') << line;
        EXPECT_NE(line[26], ' ') << line;
        if (line[2] == '-') ++option_lines;
    }
#ifdef _WIN32
    EXPECT_EQ(option_lines, 9);
#else
    EXPECT_EQ(option_lines, 10);   // and --print-systemd-unit
#endif
}

}  // namespace
