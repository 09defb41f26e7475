#include "agent/tray.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "core/clock.h"
#include "core/stop_flag.h"
#include "core/text.h"
#include "rooms/room_link.h"

namespace {

constexpr wchar_t kClassName[] = L"VantorTray";
constexpr wchar_t kWindowTitle[] = L"vantor";
constexpr wchar_t kTooltip[] = L"vantor -- watching for a match";
constexpr UINT kIconId = 1;
constexpr UINT_PTR kMenuTickTimer = 1;
constexpr UINT kMenuTickMs = 300;

HWND window_of(const TrayIcon& tray) { return static_cast<HWND>(tray.window); }

std::string failure(const char* call) {
    return std::string(call) + " failed, GetLastError=" + std::to_string(GetLastError());
}

NOTIFYICONDATAW icon_data(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kIconId;
    return data;
}

bool add_icon(HWND window) {
    NOTIFYICONDATAW data = icon_data(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(data.szTip, kTooltip, sizeof(data.szTip) / sizeof(data.szTip[0]));
    return Shell_NotifyIconW(NIM_ADD, &data) != 0;
}

// Explorer broadcasts this when it starts again (after a crash or a restart):
// every icon it showed is gone and must be added anew.
UINT taskbar_created_message() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void show_menu(const TrayIcon& tray, HWND window) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    if (tray.items.empty()) {
        AppendMenuW(menu, MF_STRING | MF_GRAYED | MF_DISABLED, 0, L"No rooms yet");
    } else {
        // Room ids stay below those of the console switch and Exit.
        for (std::size_t i = 0; i < tray.items.size() && i + 1 < kTrayConsoleCommand; ++i)
            AppendMenuW(menu, MF_STRING, i + 1, tray.items[i].label.c_str());
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kTrayConsoleCommand,
                tray.console_hidden ? L"Show console" : L"Hide console");
    AppendMenuW(menu, MF_STRING, kTrayExitCommand, L"Exit");

    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere; the empty message afterwards lets it close on the first try.
    SetForegroundWindow(window);
    SetTimer(window, kMenuTickTimer, kMenuTickMs, nullptr);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    KillTimer(window, kMenuTickTimer);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// The link comes from a remote server: only a plain web link is handed to the
// shell, never a program path or a file: URL that would run on this machine.
void open_room(const RoomMenuItem& item) {
    if (!room_link_is_safe(item.url)) return;
    const std::wstring url = utf8_to_wide(item.url);
    ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void run_command(TrayIcon& tray, unsigned command) {
    if (command == kTrayExitCommand) {
        tray.exit_requested = true;
    } else if (command == kTrayConsoleCommand) {
        HWND console = GetConsoleWindow();
        if (!console) return;
        tray.console_hidden = !tray.console_hidden;
        ShowWindow(console, tray.console_hidden ? SW_HIDE : SW_SHOW);
    } else if (command >= 1 && command < kTrayConsoleCommand && command <= tray.items.size()) {
        open_room(tray.items[command - 1]);
    }
}

LRESULT handle_message(TrayIcon& tray, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kTrayCallbackMessage) {
        const UINT mouse = LOWORD(lparam);
        if (mouse == WM_LBUTTONUP || mouse == WM_RBUTTONUP) show_menu(tray, window);
        return 0;
    }
    if (message == WM_COMMAND) {
        run_command(tray, LOWORD(wparam));
        return 0;
    }
    if (message == WM_TIMER && wparam == kMenuTickTimer) {
        if (tray.menu_tick) tray.menu_tick(tray.menu_tick_context);
        if (stop_requested()) EndMenu();
        return 0;
    }
    if (message != 0 && message == taskbar_created_message()) {
        // Also sent while the icon survives (a display change): dropped first,
        // so that the add cannot fail as a duplicate. The menu is built from
        // the items at every click, so it comes back with the icon.
        NOTIFYICONDATAW data = icon_data(window);
        Shell_NotifyIconW(NIM_DELETE, &data);
        tray.icon_added = add_icon(window);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK tray_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* tray = static_cast<TrayIcon*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tray));
        if (tray) tray->window = window;
    }
    auto* tray = reinterpret_cast<TrayIcon*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (!tray) return DefWindowProcW(window, message, wparam, lparam);
    return handle_message(*tray, window, message, wparam, lparam);
}

}  // namespace

bool tray_offered() { return true; }

bool tray_create(TrayIcon& tray, std::string& error) {
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = tray_window_proc;
    window_class.hInstance = module;
    window_class.lpszClassName = kClassName;
    if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        error = failure("RegisterClassExW");
        return false;
    }

    HWND window = CreateWindowExW(0, kClassName, kWindowTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                                  module, &tray);
    if (!window) {
        error = failure("CreateWindowExW");
        tray.window = nullptr;
        return false;
    }
    tray.window = window;
    taskbar_created_message();   // registered before Explorer can broadcast it

    if (!add_icon(window)) {
        error = failure("Shell_NotifyIconW");
        DestroyWindow(window);
        tray.window = nullptr;
        return false;
    }
    tray.icon_added = true;
    return true;
}

bool tray_hide_console(TrayIcon& tray) {
    HWND console = GetConsoleWindow();
    if (!console) return false;
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) return false;
    ShowWindow(console, SW_HIDE);
    tray.console_hidden = true;
    return true;
}

void tray_pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void tray_set_items(TrayIcon& tray, std::vector<RoomMenuItem> items) {
    tray.items = std::move(items);
}

void tray_destroy(TrayIcon& tray) {
    HWND window = window_of(tray);
    if (tray.icon_added) {
        NOTIFYICONDATAW data = icon_data(window);
        Shell_NotifyIconW(NIM_DELETE, &data);
        tray.icon_added = false;
    }
    if (window) DestroyWindow(window);
    tray.window = nullptr;
    if (tray.console_hidden) {
        if (HWND console = GetConsoleWindow()) ShowWindow(console, SW_SHOW);
        tray.console_hidden = false;
    }
    tray.items.clear();
}

bool copy_to_clipboard(std::string_view text, std::uint32_t& error_code, const TrayIcon* tray) {
    const std::wstring wide = utf8_to_wide(text);
    // With the tray's window as owner, as Windows documents for emptying the
    // clipboard; without a tray, no owner, as before.
    HWND owner = tray ? window_of(*tray) : nullptr;
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        if (attempt > 0) sleep_ms(20);
        opened = OpenClipboard(owner) != 0;
    }
    if (!opened) {
        error_code = GetLastError();
        return false;
    }

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
    error_code = set ? 0 : GetLastError();
    CloseClipboard();
    return set;
}

// The Windows clipboard is always there, and the tray menu holds the room.
std::string clipboard_missing_hint() { return {}; }

void notify_room_ready(std::string_view, bool) {}
