// The clipboard that receives the room link: the system's own on Windows;
// elsewhere wl-copy, xclip or xsel when one of them is installed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TrayIcon;

// Puts the text on the clipboard, opened with the tray's window as owner when
// there is a tray (Windows). On failure `error_code` is the system's error
// code (Windows) or errno / the helper's exit status elsewhere; 0 on success.
bool copy_to_clipboard(std::string_view text, std::uint32_t& error_code,
                       const TrayIcon* tray = nullptr);

// Empty when the clipboard can work here (always on Windows); otherwise one
// console line that says why not and what to install.
std::string clipboard_missing_hint();
