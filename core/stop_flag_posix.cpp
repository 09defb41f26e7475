// SIGINT, SIGTERM and SIGHUP set the stop flag, as the console events do on
// Windows. A signal handler runs on the main thread, so it never waits.
#include "core/stop_flag.h"

#include <csignal>

namespace {
void on_stop_signal(int) { request_stop(); }
}  // namespace

void install_stop_handler() {
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
