// A balloon from the tray's icon.
#include "agent/notification.h"

#include <windows.h>

#include "agent/tray.h"

void notify_room_ready(const RoomNotice& notice, const TrayIcon* tray) {
    if (!tray || !tray->icon_added) return;
    HWND console = GetConsoleWindow();
    if (console && IsWindowVisible(console) && GetForegroundWindow() == console) return;
    tray_show_balloon(*tray, notice.title, notice.text, notice.url);
}
