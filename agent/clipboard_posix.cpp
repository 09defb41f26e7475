// The clipboard through wl-copy (Wayland), xclip or xsel (X11).
#include "agent/clipboard.h"

#include <cerrno>

#include "agent/desktop_helper.h"

bool copy_to_clipboard(std::string_view text, std::uint32_t& error_code, const TrayIcon*) {
    if (have_variable("WAYLAND_DISPLAY")) {
        const std::string program = find_program("wl-copy");
        if (!program.empty()) return run_helper(program, {}, text, error_code);
    }
    if (have_variable("DISPLAY")) {
        std::string program = find_program("xclip");
        if (!program.empty())
            return run_helper(program, {"-selection", "clipboard"}, text, error_code);
        program = find_program("xsel");
        if (!program.empty()) return run_helper(program, {"--clipboard", "--input"}, text, error_code);
    }
    error_code = ENOENT;   // no display with a clipboard helper
    return false;
}

std::string clipboard_missing_hint() {
    const bool wayland = have_variable("WAYLAND_DISPLAY");
    const bool x11 = have_variable("DISPLAY");
    if (wayland && !find_program("wl-copy").empty()) return {};
    if (x11 && (!find_program("xclip").empty() || !find_program("xsel").empty())) return {};
    if (wayland) {
        return "clipboard: wl-copy is not installed -- install the package wl-clipboard "
               "(sudo apt install wl-clipboard) to get room links copied";
    }
    if (x11) {
        return "clipboard: neither xclip nor xsel is installed -- install the package xclip "
               "(sudo apt install xclip) to get room links copied";
    }
    return "clipboard: no desktop session (neither WAYLAND_DISPLAY nor DISPLAY is set) -- "
           "room links are shown here only";
}

