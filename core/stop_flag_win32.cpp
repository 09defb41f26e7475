// The console control handler: Ctrl+C, Ctrl+Break and closing the console set
// the stop flag.
#include "core/stop_flag.h"

#include <windows.h>

namespace {
BOOL WINAPI console_control_handler(DWORD type) {
    return handle_console_control(type) ? TRUE : FALSE;
}

// A manual-reset event, set with the stop flag (from the control handler's
// thread too) and reset with it.
const HANDLE g_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}  // namespace

void install_stop_handler() {
    SetConsoleCtrlHandler(console_control_handler, TRUE);
}

void stop_wake_raise() {
    if (g_wake) SetEvent(g_wake);
}

void stop_wake_clear() {
    if (g_wake) ResetEvent(g_wake);
}

void stop_wake_wait(std::uint32_t ms) {
    if (g_wake) WaitForSingleObject(g_wake, ms);
    else Sleep(ms);
}
