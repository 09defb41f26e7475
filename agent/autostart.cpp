// What the autostart entry runs, and the switch with its record; the entry
// itself is the platform's (autostart_win32.cpp, autostart_posix.cpp).
#include "agent/autostart.h"

#include <system_error>

#include "agent/options.h"
#include "agent/run_modes.h"
#include "core/event_log.h"
#include "core/files.h"
#include "core/text.h"

namespace {

std::string absolute_text(const std::filesystem::path& path) {
    std::error_code ignored;
    const std::filesystem::path full = std::filesystem::absolute(path, ignored);
    return path_to_utf8(full.empty() ? path : full);
}

}  // namespace

std::vector<std::string> autostart_arguments(const AgentOptions& options) {
    std::vector<std::string> arguments;
    if (!options.write_cfg) arguments.push_back("--no-write-cfg");
    if (!options.tray) arguments.push_back("--no-tray");
    if (!options.console_log.empty())
        arguments.insert(arguments.end(), {"--console-log", absolute_text(options.console_log)});
    if (options.gsi_port_given)
        arguments.insert(arguments.end(), {"--gsi-port", std::to_string(options.gsi_port)});
    if (!options.api_base.empty()) arguments.insert(arguments.end(), {"--api-base", options.api_base});
    if (!options.log_dir.empty())
        arguments.insert(arguments.end(), {"--log-dir", absolute_text(options.log_dir)});
    return arguments;
}

bool set_autostart(bool on, const AgentOptions& options, EventLog& log) {
    std::string error;
    const std::string place = autostart_place();
    if (on) {
        const std::optional<std::filesystem::path> program = own_program_path();
        const std::string command =
            program ? autostart_command(*program, autostart_arguments(options)) : std::string();
        if (!program) {
            error = "the agent's own path is unknown";
        } else if (write_autostart(command, error)) {
            log_event(log, "autostart", {{"enabled", true}, {"place", place}, {"command", command}},
                      "autostart: on -- " + place + " runs " + command);
            return true;
        }
    } else if (remove_autostart(error)) {
        log_event(log, "autostart", {{"enabled", false}, {"place", place}},
                  "autostart: off -- " + place + " is gone");
        return true;
    }
    log_event(log, "error", {{"where", "autostart"}, {"detail", error}},
              std::string("autostart: cannot switch it ") + (on ? "on" : "off") + " -- " + error);
    return false;
}

int run_autostart(const AgentOptions& options) {
    EventLog log;
    log_open(log, event_log_folder(options));   // without a file the console still says it
    return set_autostart(options.autostart == "on", options, log) ? 0 : 1;
}
