// The notification-area icon: a menu of recent rooms (each opens its link in
// the browser), "Start with Windows", a switch to show or hide the console
// window, and Exit; and the balloons shown from the icon. Everything runs on
// the main thread: the tray's window sees its messages only while tray_pump
// runs. Away from Windows there is no tray.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "agent/room_menu.h"

struct AgentOptions;
struct EventLog;

// WM_APP + 1: the icon's notifications arrive as this message.
inline constexpr unsigned kTrayCallbackMessage = 0x8000 + 1;
inline constexpr unsigned kTrayConsoleCommand = 900;   // "Show console" / "Hide console"
inline constexpr unsigned kTrayExitCommand = 901;      // "Exit"
inline constexpr unsigned kTrayAutostartCommand = 902; // "Start with Windows"

// Lives at a fixed address from tray_create to tray_destroy: the window finds
// it through its user data.
struct TrayIcon {
    void* window = nullptr;        // the hidden window that owns the icon
    bool icon_added = false;       // the icon is in the notification area
    bool exit_requested = false;   // Exit was chosen; the main loop reads it after each pump
    bool console_hidden = false;   // the agent hid the console window
    std::vector<RoomMenuItem> items;   // the rooms of the menu, in menu order

    // The main loop is held in the menu while it is open. This runs about
    // every 300 ms meanwhile, so console.log and GSI are still read; once the
    // stop flag is set the menu closes.
    void (*menu_tick)(void* context) = nullptr;
    void* menu_tick_context = nullptr;

    // Where "Start with Windows" records what it did, and the command line
    // whose options it keeps; tray_create takes them from tray_prepare.
    EventLog* log = nullptr;
    const AgentOptions* options = nullptr;

    // The link the balloon on show opens when clicked; empty: the click opens
    // the menu. Set through the const tray the room delivery holds.
    mutable std::string balloon_url;
};

// Whether the system has a notification area at all (Windows); elsewhere
// tray_create always fails, by design rather than by fault.
bool tray_offered();

// Start-up hands over the run's log and command line before the main loop
// makes its tray; both must outlive it.
void tray_prepare(EventLog& log, const AgentOptions& options);

// Registers the window class, creates the hidden window and adds the icon.
// False with `error` filled ("RegisterClassExW failed, GetLastError=5", ...).
// When Explorer starts again ("TaskbarCreated") the icon is added anew.
bool tray_create(TrayIcon& tray, std::string& error);

// Hides the console window when the agent is the only process on its console
// (started by double-click); a console shared with a shell is never hidden.
// Whether it was hidden.
bool tray_hide_console(TrayIcon& tray);

// Handles every queued window message of the thread without waiting.
void tray_pump();

// The next menu shows these rooms.
void tray_set_items(TrayIcon& tray, std::vector<RoomMenuItem> items);

// Removes the icon and the window, shows a console the agent hid, drops the items.
void tray_destroy(TrayIcon& tray);

// A balloon from the icon (cut to what fits); a click on it opens `url` when
// it is a web link, else the menu. Whether the notification area took it.
bool tray_show_balloon(const TrayIcon& tray, std::string_view title, std::string_view text,
                       std::string_view url);

// A second start asks the running agent of this user to show its icon's
// balloon. Whether a tray window of a running agent was found.
bool tray_wake_running_agent();
