// The entry point of vantor-agent: console, stop handler, command line, then
// help, a usage error, the autostart switch, replay or the normal run.
#include <cstdio>
#include <string>
#include <vector>

#include "agent/options.h"
#include "agent/run_modes.h"
#include "agent/service_unit.h"
#include "console/replay.h"
#include "core/console_setup.h"
#include "core/files.h"
#include "core/stop_flag.h"

namespace {
void write_text(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}
}  // namespace

int main(int argc, char** argv) {
    use_utf8_console();
    survive_closed_console();
    install_stop_handler();

    const std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    const AgentOptions options = parse_options(static_cast<int>(pointers.size()), pointers.data());

    if (!options.error.empty()) {
        write_text(stderr, options.error + "\n\n");
        write_text(stdout, help_text() + "\n");
        return 2;
    }
    if (options.help) {
        write_text(stdout, help_text() + "\n");
        return 0;
    }
    if (options.print_systemd_unit) {
        const auto program = own_program_path();
        write_text(stdout, systemd_unit_text(program ? *program : "vantor-agent"));
        return 0;
    }
    const int code = !options.autostart.empty()  ? run_autostart(options)
                     : options.replay_path.empty() ? run_startup(options)
                                                   : run_replay(options.replay_path);
    std::fflush(stdout);
    mark_run_finished();
    return code;
}
