// The clipboard that receives the room link: the system's own on Windows;
// elsewhere wl-copy, xclip or xsel when one of them is installed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TrayIcon;

// Whether the text went onto the clipboard; when not, why: the system's error
// code (Windows) or errno / the helper's exit status elsewhere.
struct ClipboardCopy {
    bool copied = false;
    std::uint32_t error_code = 0;   // 0 once copied
};

// Puts the text on the clipboard, opened with the tray's window as owner when
// there is a tray (Windows).
ClipboardCopy copy_to_clipboard(std::string_view text, const TrayIcon* tray = nullptr);

// Empty when the clipboard can work here (always on Windows); otherwise one
// console line that says why not and what to install.
std::string clipboard_missing_hint();
