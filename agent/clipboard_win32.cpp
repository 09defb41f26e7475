// The Windows clipboard, as Unicode text.
#include "agent/clipboard.h"

#include <windows.h>

#include <cstring>

#include "agent/tray.h"
#include "core/clock.h"
#include "core/text.h"

ClipboardCopy copy_to_clipboard(std::string_view text, const TrayIcon* tray) {
    const std::wstring wide = utf8_to_wide(text);
    // With the tray's window as owner, as Windows documents for emptying the
    // clipboard; without a tray, no owner, as before.
    HWND owner = tray ? static_cast<HWND>(tray->window) : nullptr;
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        if (attempt > 0) sleep_ms(20);
        opened = OpenClipboard(owner) != 0;
    }
    if (!opened) return {false, GetLastError()};

    bool set = false;
    const SIZE_T bytes = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block) {
        if (void* target = GlobalLock(block)) {
            std::memcpy(target, wide.c_str(), bytes);
            GlobalUnlock(block);
            EmptyClipboard();
            // Once set, the clipboard owns the block.
            set = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        }
        if (!set) GlobalFree(block);
    }
    const ClipboardCopy copy{set, set ? 0 : static_cast<std::uint32_t>(GetLastError())};
    CloseClipboard();
    return copy;
}

// The Windows clipboard is always there, and the tray menu holds the room.
std::string clipboard_missing_hint() { return {}; }
