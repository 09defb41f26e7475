// The clipboard through wl-copy (Wayland), xclip or xsel (X11).
#include "agent/clipboard.h"

#include <cerrno>

#include "agent/desktop_helper.h"

namespace {

ClipboardCopy copied_by(const HelperRun& run) { return {run.ok, run.error_code}; }

}  // namespace

ClipboardCopy copy_to_clipboard(std::string_view text, const TrayIcon*) {
    if (have_variable("WAYLAND_DISPLAY")) {
        const std::string program = find_program("wl-copy");
        if (!program.empty()) return copied_by(run_helper(program, {}, text));
    }
    if (have_variable("DISPLAY")) {
        std::string program = find_program("xclip");
        if (!program.empty())
            return copied_by(run_helper(program, {"-selection", "clipboard"}, text));
        program = find_program("xsel");
        if (!program.empty()) return copied_by(run_helper(program, {"--clipboard", "--input"}, text));
    }
    return {false, ENOENT};   // no display with a clipboard helper
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

