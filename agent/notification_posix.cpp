// The desktop's notification service, through notify-send.
#include "agent/notification.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "agent/desktop_helper.h"

void notify_room_ready(const RoomNotice& notice, const TrayIcon*) {
    // notify-send talks to the session bus; without one it would only fail.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool bus = have_variable("DBUS_SESSION_BUS_ADDRESS") ||
                     (runtime && *runtime && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0);
    const std::string program = find_program("notify-send");
    if (!bus || program.empty()) return;
    run_helper(program, {"--app-name=vantor", notice.title, notice.text}, {});   // best effort
}
