// The command-line parser and the help text.
#include "agent/options.h"

#include <cstdint>
#include <string_view>

#include "agent/service_unit.h"
#include "rooms/api_client.h"
#include "core/files.h"
#include "core/port_range.h"
#include "core/text.h"

namespace {

// Reads a port the way strtol would (leading white space, one sign, digits up
// to the first non-digit, no digits gives 0), but saturating, so that a huge
// value can never wrap into the valid range.
std::int64_t read_port_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const DecimalPrefix digits = decimal_prefix(text.substr(i));
    constexpr std::int64_t kFarOutOfRange = 10000000;
    const std::int64_t value = digits.overflow || digits.value > kFarOutOfRange
                                   ? kFarOutOfRange
                                   : static_cast<std::int64_t>(digits.value);
    return negative ? -value : value;
}

// Where the logs go without --log-dir, as start-up works it out.
std::string default_log_folder_text() {
    const std::string home = user_data_home_text();
    return home.empty() ? "logs in the current folder"
                        : path_to_utf8(path_from_utf8(home) / "vantor" / "logs");
}

}  // namespace

AgentOptions parse_options(int argc, const char* const* argv) {
    AgentOptions options;
    for (int i = 1; i < argc && options.error.empty(); ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";

        // Options with a value consume the next argument whatever it looks like.
        auto take_value = [&](std::string_view& value) {
            if (i + 1 < argc) {
                value = argv[i + 1] ? argv[i + 1] : "";
                ++i;
            } else {
                options.error = std::string(arg) + " needs a value";
                value = {};
            }
        };

        std::string_view value;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--replay") {
            take_value(value);
            options.replay_path = std::string(value);
        } else if (arg == "--coplay-once") {
            options.coplay_once = true;
        } else if (arg == "--no-write-cfg") {
            options.write_cfg = false;
        } else if (arg == "--no-tray") {
            options.tray = false;
        } else if (arg == "--debug") {
            options.debug = true;
        } else if (arg == "--log-dir") {
            take_value(value);
            options.log_dir = path_from_utf8(value);
        } else if (arg == "--console-log") {
            take_value(value);
            options.console_log = path_from_utf8(value);
        } else if (arg == "--gsi-port") {
            take_value(value);
            const std::int64_t port = read_port_number(value);
            options.gsi_port = static_cast<std::uint32_t>(port);
            options.gsi_port_given = true;
            // The range check replaces a "needs a value" error: an empty value reads as 0.
            if (!port_in_range(port)) options.error = "--gsi-port must be 1..65535";
        } else if (arg == "--print-systemd-unit" && service_unit_offered()) {
            options.print_systemd_unit = true;
        } else if (arg == "--autostart") {
            take_value(value);
            options.autostart = std::string(value);
            if (options.error.empty() && value != "on" && value != "off")
                options.error = "--autostart must be on or off";
        } else if (arg == "--api-base") {
            take_value(value);
            options.api_base = std::string(value);
            // Saved for later runs, so one the API client cannot use is
            // refused now rather than kept. Empty keeps the saved URL.
            if (!value.empty())
                if (const std::string problem = api_base_url_problem(value); !problem.empty())
                    options.error = "--api-base: " + problem;
        } else {
            options.error = "unknown argument: " + std::string(arg);
        }
    }
    return options;
}

const std::string& help_text() {
    static const std::string text =
        "vantor-agent -- detects the CS2 match roster and derives its room key.\n"
        "\n"
        "  --debug                 also log raw GSI payloads and the whole co-play and\n"
        "                          friend lists (large, but this is the telemetry)\n"
        "  --replay <console.log>  parse an existing log for status blocks and exit\n"
        "  --coplay-once           dump what Steam knows and exit\n"
        "  --no-write-cfg          check the CS2 cfgs but never write them\n"
        "  --no-tray               keep the console window instead of the tray icon\n"
        "  --console-log <path>    watch this log instead of the one next to CS2\n"
        "  --gsi-port <n>          GSI listen port (default " + std::to_string(kDefaultGsiPort) + ")\n"
        "  --api-base <url>        http(s) API to POST completed rosters to, saved in\n"
        "                          agent.json (default " + std::string(kDefaultApiBase) + "); an empty\n"
        "                          value keeps the saved one\n"
        "  --log-dir <dir>         where to write agent-*.jsonl\n"
        "                          (default " + default_log_folder_text() + ")\n" +
        "  --autostart on|off      start the agent at log-on with these options, or\n"
        "                          no more, and exit\n" +
        std::string(service_unit_offered() ? kServiceUnitHelp : "");
    return text;
}
