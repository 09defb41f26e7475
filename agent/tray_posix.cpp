// No notification area away from Windows: the run keeps its console.
#include "agent/tray.h"

bool tray_offered() { return false; }

bool tray_create(TrayIcon& tray, std::string& error) {
    tray.window = nullptr;
    tray.icon_added = false;
    error = "no notification area on this system (the tray icon needs Windows)";
    return false;
}

bool tray_hide_console(TrayIcon&) { return false; }

void tray_pump() {}

void tray_set_items(TrayIcon& tray, std::vector<RoomMenuItem> items) {
    tray.items = std::move(items);
}

void tray_destroy(TrayIcon& tray) {
    tray.window = nullptr;
    tray.icon_added = false;
    tray.console_hidden = false;
    tray.items.clear();
}


void tray_prepare(EventLog&, const AgentOptions&) {}

bool tray_show_balloon(const TrayIcon&, std::string_view, std::string_view, std::string_view) {
    return false;
}

bool tray_wake_running_agent() { return false; }
