#include "agent/tray.h"

#include <windows.h>
#include <shellapi.h>

#include <utility>

#include "agent/autostart.h"
#include "agent/options.h"
#include "core/event_log.h"
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

// What start-up handed over for the tray the main loop makes next.
EventLog* g_prepared_log = nullptr;
const AgentOptions* g_prepared_options = nullptr;

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

// A second start of the agent posts this to the running one's window, with
// its own pid as wparam.
UINT second_start_message() {
    static const UINT message = RegisterWindowMessageW(L"vantor-agent-second-start");
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
    // The registry's word, read anew for every menu: the entry may have been
    // changed behind the agent's back.
    AppendMenuW(menu, MF_STRING | (autostart_points_here() ? MF_CHECKED : MF_UNCHECKED),
                kTrayAutostartCommand, L"Start with Windows");
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
void open_room(const std::string& link) {
    if (!room_link_is_safe(link)) return;
    const std::wstring url = utf8_to_wide(link);
    ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// On when the entry does not start this program (absent, or another copy's).
void switch_autostart(const TrayIcon& tray) {
    const AgentOptions none;
    EventLog console_only;
    set_autostart(!autostart_points_here(), tray.options ? *tray.options : none,
                  tray.log ? *tray.log : console_only);
}

void second_start(const TrayIcon& tray, WPARAM pid) {
    if (tray.log) {
        log_event(*tray.log, "second_start", {{"pid", static_cast<std::uint64_t>(pid)}},
                  "tray: vantor-agent was started again (pid " + std::to_string(pid) +
                      ") -- this one keeps running");
    }
    tray_show_balloon(tray, "vantor-agent is already running",
                      "Click the icon for the rooms, Start with Windows and Exit.", "");
}

void run_command(TrayIcon& tray, unsigned command) {
    if (command == kTrayExitCommand) {
        tray.exit_requested = true;
    } else if (command == kTrayAutostartCommand) {
        switch_autostart(tray);
    } else if (command == kTrayConsoleCommand) {
        HWND console = GetConsoleWindow();
        if (!console) return;
        tray.console_hidden = !tray.console_hidden;
        ShowWindow(console, tray.console_hidden ? SW_HIDE : SW_SHOW);
    } else if (command >= 1 && command < kTrayConsoleCommand && command <= tray.items.size()) {
        open_room(tray.items[command - 1].url);
    }
}

LRESULT handle_message(TrayIcon& tray, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kTrayCallbackMessage) {
        const UINT mouse = LOWORD(lparam);
        if (mouse == WM_LBUTTONUP || mouse == WM_RBUTTONUP) show_menu(tray, window);
        if (mouse == NIN_BALLOONUSERCLICK) {
            const std::string link = std::exchange(tray.balloon_url, {});
            if (link.empty()) show_menu(tray, window);
            else open_room(link);
        }
        return 0;
    }
    if (message != 0 && message == second_start_message()) {
        second_start(tray, wparam);
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

void tray_prepare(EventLog& log, const AgentOptions& options) {
    g_prepared_log = &log;
    g_prepared_options = &options;
}

bool tray_create(TrayIcon& tray, std::string& error) {
    if (!tray.log) tray.log = g_prepared_log;
    if (!tray.options) tray.options = g_prepared_options;
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
    second_start_message();

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

bool tray_show_balloon(const TrayIcon& tray, std::string_view title, std::string_view text,
                       std::string_view url) {
    if (!tray.icon_added) return false;
    NOTIFYICONDATAW data = icon_data(window_of(tray));
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_INFO;
    // lstrcpynW cuts what does not fit and always ends the text.
    lstrcpynW(data.szInfoTitle, utf8_to_wide(title).c_str(), sizeof(data.szInfoTitle) / sizeof(wchar_t));
    lstrcpynW(data.szInfo, utf8_to_wide(text).c_str(), sizeof(data.szInfo) / sizeof(wchar_t));
    tray.balloon_url = std::string(url);
    return Shell_NotifyIconW(NIM_MODIFY, &data) != 0;
}

bool tray_wake_running_agent() {
    HWND running = FindWindowW(kClassName, kWindowTitle);
    return running && PostMessageW(running, second_start_message(), GetCurrentProcessId(), 0);
}
