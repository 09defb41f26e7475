// The console control handler: Ctrl+C, Ctrl+Break and closing the console set
// the stop flag.
#include "core/stop_flag.h"

#include <windows.h>

namespace {
BOOL WINAPI console_control_handler(DWORD type) {
    return handle_console_control(type) ? TRUE : FALSE;
}
}  // namespace

void install_stop_handler() {
    SetConsoleCtrlHandler(console_control_handler, TRUE);
}
