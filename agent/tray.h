// The notification-area icon: a menu of recent rooms (each opens its link in
// the browser), a switch to show or hide the console window, and Exit; plus
// the clipboard that receives the room link. Everything runs on the main
// thread: the tray's window sees its messages only while tray_pump runs.
// Away from Windows there is no tray; the clipboard goes through wl-copy,
// xclip or xsel when one of them is installed, and a desktop notification
// says when a room is ready.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rooms/room_persistence.h"

// WM_APP + 1: the icon's notifications arrive as this message.
inline constexpr unsigned kTrayCallbackMessage = 0x8000 + 1;
inline constexpr unsigned kTrayConsoleCommand = 900;   // "Show console" / "Hide console"
inline constexpr unsigned kTrayExitCommand = 901;      // "Exit"

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
};

// Whether the system has a notification area at all (Windows); elsewhere
// tray_create always fails, by design rather than by fault.
bool tray_offered();

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

// Puts the text on the clipboard, opened with the tray's window as owner when
// there is a tray (Windows). On failure `error_code` is the system's error
// code (Windows) or errno / the helper's exit status elsewhere; 0 on success.
bool copy_to_clipboard(std::string_view text, std::uint32_t& error_code,
                       const TrayIcon* tray = nullptr);
// Empty when the clipboard can work here (always on Windows); otherwise one
// console line that says why not and what to install.
std::string clipboard_missing_hint();

// Linux: a desktop notification ("Room ready -- link copied") through
// notify-send when it and a session bus are there. Windows: nothing, the tray
// menu holds the room.
void notify_room_ready(std::string_view url, bool copied);
