// Away from Windows the terminal and the arguments are taken as UTF-8 already.
#include "core/console_setup.h"

#include <csignal>

void use_utf8_console() {}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
    return arguments;
}

void survive_closed_console() {
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}
