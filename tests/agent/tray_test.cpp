#include "agent/tray.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/autostart.h"
#include "agent/clipboard.h"
#include "agent/notification.h"
#include "agent/options.h"
#include "core/clock.h"
#include "core/event_log.h"
#include "core/files.h"
#include "core/registry.h"
#include "core/stop_flag.h"
#include "core/text.h"
#include "tests/support/test_support.h"

// The player reads the same words on every system, the map first.
TEST(RoomNotice, SaysTheRoomIsReadyWithItsMap) {
    struct Row { const char* name; const char* map; bool copied; RoomNotice notice; };
    const char* url = "https://rooms.example/r/1";
    const Row rows[] = {
        {"copied, with a map", "de_dust2", true, {"Room ready -- link copied", std::string("de_dust2\n") + url, url}},
        {"not copied", "de_dust2", false, {"Room ready", std::string("de_dust2\n") + url, url}},
        {"no map known", "", true, {"Room ready -- link copied", url, url}},
    };
    for (const Row& row : rows) {
        const RoomNotice notice = room_ready_notice(url, row.map, row.copied);
        EXPECT_EQ(notice.title + "|" + notice.text + "|" + notice.url,
                  row.notice.title + "|" + row.notice.text + "|" + row.notice.url) << row.name;
    }
}

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

namespace {

// The pop-up menu as it was opened ("" when none was): "id text|" per item,
// "~" before a grayed one, "---|" for a separator. It is read through a hook
// on the window's thread and closed as soon as it waits for the player.
std::wstring g_menu;

LRESULT CALLBACK watch_menu(int code, WPARAM wparam, LPARAM lparam) {
    const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && message->message == WM_INITMENUPOPUP) {
        const HMENU menu = reinterpret_cast<HMENU>(message->wParam);
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[256] = {};
            GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
            const UINT state = GetMenuState(menu, i, MF_BYPOSITION), id = GetMenuItemID(menu, i);
            if (state & MF_SEPARATOR) g_menu += L"---|";
            else g_menu += (state & MF_GRAYED ? L"~" : L"") + std::to_wstring(id) + (state & MF_CHECKED ? L" [x] " : L" ") + text + L"|";
        }
    } else if (code == HC_ACTION && message->message == WM_ENTERIDLE && message->wParam == MSGF_MENU) {
        EndMenu();
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Closes a menu that never went idle, so a test cannot hang in it.
void CALLBACK close_menu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

std::wstring click(const TrayIcon& tray, UINT mouse_event = WM_RBUTTONUP) {
    g_menu.clear();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, watch_menu, nullptr, GetCurrentThreadId());
    const UINT_PTR timer = SetTimer(nullptr, 0, 3000, close_menu);
    SendMessageW(static_cast<HWND>(tray.window), kTrayCallbackMessage, 1, mouse_event);
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(hook);
    tray_pump();
    return g_menu;
}

void command(const TrayIcon& tray, WPARAM id) { SendMessageW(static_cast<HWND>(tray.window), WM_COMMAND, id, 0); }

// The clipboard's text and whether its owner is `owner`.
std::wstring clipboard_text(HWND owner = nullptr) {
    std::wstring text = GetClipboardOwner() == owner ? L"" : L"<another owner> ";
    if (!OpenClipboard(nullptr)) return L"<clipboard not opened>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) text += chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

class TrayWindow : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        remove_autostart(error);   // the build's Wine prefix keeps what a test left
        if (!tray_create(tray, error)) {
            // Windows need a display; under Wine ctest runs this without one,
            // tests/agent/tray_window_test.py runs it again under xvfb-run.
            if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: " << error;
            FAIL() << error;
        }
    }
    void TearDown() override { tray_destroy(tray); }
    TrayIcon tray;
};

// A hidden window with an icon (every test makes a tray of its own: the class
// registered first is reused). Only a button release opens the menu; it lists
// the rooms in order, or says there are none.
TEST_F(TrayWindow, TheMenuOpensOnAButtonReleaseAndListsTheRoomsInOrder) {
    EXPECT_TRUE(IsWindow(static_cast<HWND>(tray.window)));
    EXPECT_TRUE(tray.icon_added);
    EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(tray.window)));
    const std::wstring tail = L"---|902 Start with Windows|900 Hide console|901 Exit|", empty = L"~0 No rooms yet|" + tail;
    for (UINT mouse : {WM_RBUTTONUP, WM_LBUTTONUP}) EXPECT_EQ(click(tray, mouse), empty) << mouse;
    for (UINT mouse : {WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK}) EXPECT_EQ(click(tray, mouse), L"") << mouse;
    tray_set_items(tray, {{L"05.12 21:30   de_dust2", "https://rooms.example/r/1"}, {L"de_mirage \u2764", "https://rooms.example/r/2"}});
    EXPECT_EQ(click(tray), L"1 05.12 21:30   de_dust2|2 de_mirage \u2764|" + tail);
    tray_set_items(tray, {});   // replaced as a whole
    EXPECT_EQ(click(tray), empty);
}

TEST_F(TrayWindow, ARoomThatIsNoWebLinkIsNeverOpenedExitIsSeenThroughThePumpDestroyRemovesAll) {
    // A link from the room service naming a local script: opening it would run it.
    const std::filesystem::path dir = make_temp_dir("tray-open");
    const std::filesystem::path marker = dir / "ran.txt", script = dir / "room.cmd";
    write_test_file(script, "@echo ran> \"" + path_to_utf8(marker) + "\"\r\n");
    tray_set_items(tray, {{L"evil", path_to_utf8(script)}, {L"evil too", "file:///" + path_to_utf8(script)}});
    for (WPARAM id : {0, 1, 2, 3}) command(tray, id);   // ids with no item do nothing
    // Nor through a click on the balloon of a room with such a link; the
    // balloon takes long texts, cut.
    EXPECT_TRUE(tray_show_balloon(tray, std::string(100, 't'), std::string(600, 'x'), path_to_utf8(script)));
    SendMessageW(static_cast<HWND>(tray.window), kTrayCallbackMessage, 1, NIN_BALLOONUSERCLICK);
    EXPECT_EQ(tray.balloon_url, "");
    sleep_ms(1500);
    EXPECT_FALSE(std::filesystem::exists(marker));
    PostMessageW(static_cast<HWND>(tray.window), WM_COMMAND, kTrayExitCommand, 0);   // as the menu posts it
    EXPECT_FALSE(tray.exit_requested);
    tray_pump();
    EXPECT_TRUE(tray.exit_requested);
    HWND window = static_cast<HWND>(tray.window);
    tray_destroy(tray);   // TearDown destroys it again: twice is harmless
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(tray.icon_added);
}

// The menu holds the main loop while it is open: the loop's inputs are still
// read, and Ctrl+C closes the menu instead of waiting for the player.
TEST_F(TrayWindow, AnOpenMenuKeepsTheLoopGoingAndClosesOnStop) {
    static int ticks = 0;
    tray.menu_tick = [](void*) {
        if (++ticks == 2) request_stop();
    };
    const UINT_PTR guard = SetTimer(nullptr, 0, 10000, close_menu);
    const std::uint32_t opened = tick_now();
    SendMessageW(static_cast<HWND>(tray.window), kTrayCallbackMessage, 1, WM_RBUTTONUP);
    const std::uint32_t took = ticks_since(tick_now(), opened);
    KillTimer(nullptr, guard);
    clear_stop();
    tray_pump();
    EXPECT_GE(ticks, 2);
    EXPECT_LT(took, 5000u);   // closed by the stop, not by the guard
}

// "Start with Windows" is checked when the Run value starts this program,
// read anew for every menu; a click switches it and logs the switch.
TEST_F(TrayWindow, StartWithWindowsShowsTheRunValueAndSwitchesIt) {
    EventLog log;
    ASSERT_TRUE(log_open(log, make_temp_dir("tray-autostart")));
    const char* arguments[] = {"vantor-agent", "--debug", "--no-tray", "--gsi-port", "5000"};
    const AgentOptions options = parse_options(5, arguments);
    tray.log = &log;
    tray.options = &options;
    const std::string ours = autostart_command(own_program_path().value(), {"--no-tray", "--gsi-port", "5000"});
    struct Row { const char* name; std::optional<std::string> before; bool checked; std::optional<std::string> after; };
    const Row rows[] = {
        {"none: unchecked, a click writes ours", std::nullopt, false, ours},
        {"ours: checked, a click removes it", ours, true, std::nullopt},
        {"another copy's: unchecked, a click puts ours in its place", "\"C:\\Games\\vantor-agent.exe\" --no-tray", false, ours},
        {"ours, removed behind the agent's back: unchecked", std::nullopt, false, ours},
    };
    const HKEY user = HKEY_CURRENT_USER;
    const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring value = utf8_to_wide(row.before.value_or(""));
        if (row.before) RegSetKeyValueW(user, run, L"vantor-agent", REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * 2));
        else RegDeleteKeyValueW(user, run, L"vantor-agent");
        EXPECT_NE(click(tray).find(row.checked ? L"902 [x] Start with Windows|" : L"902 Start with Windows|"), std::wstring::npos);
        command(tray, kTrayAutostartCommand);
        EXPECT_EQ(read_registry_string("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "vantor-agent"), row.after);
    }
    std::vector<bool> switched;
    for (const auto& record : logged_events(log, "autostart")) switched.push_back(record["enabled"].get<bool>());
    EXPECT_EQ(switched, (std::vector<bool>{true, false, true, true}));
}

// The room's balloon leads to its page; a second start's balloon (and the
// record of it) comes from the running agent's window, and its click opens the menu.
TEST_F(TrayWindow, BalloonsForTheRoomAndForASecondStart) {
    const RoomNotice notice = room_ready_notice("https://rooms.example/r/1", "de_dust2", true);
    notify_room_ready(notice, nullptr);   // no tray: nothing to show it from
    notify_room_ready(notice, &tray);
    EXPECT_EQ(tray.balloon_url, notice.url);
    EventLog log;
    ASSERT_TRUE(log_open(log, make_temp_dir("tray-second-start")));
    tray.log = &log;
    EXPECT_TRUE(tray_wake_running_agent());
    tray_pump();
    const auto seen = logged_events(log, "second_start");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]["pid"], GetCurrentProcessId());
    EXPECT_EQ(tray.balloon_url, "");
    EXPECT_EQ(click(tray, NIN_BALLOONUSERCLICK), L"~0 No rooms yet|---|902 Start with Windows|900 Hide console|901 Exit|");
    tray_destroy(tray);
    EXPECT_FALSE(tray_wake_running_agent());   // no agent's window any more
}

// As Unicode text, opened for the tray's window when there is one; while
// another window holds the clipboard, three attempts 20 ms apart fail.
TEST_F(TrayWindow, TheClipboardGetsTheLinkOrFailsWhileAnotherWindowHoldsIt) {
    const std::string link = "https://rooms.example/r/\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87?x=1";
    ASSERT_TRUE(copy_to_clipboard(link, &tray).copied);
    EXPECT_EQ(clipboard_text(static_cast<HWND>(tray.window)), utf8_to_wide(link));
    const ClipboardCopy before = copy_to_clipboard("before");
    ASSERT_TRUE(before.copied);
    EXPECT_EQ(before.error_code, 0u);
    EXPECT_EQ(clipboard_text(), L"before");
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr), release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {   // a window of its own: Wine lets callers without one share an open clipboard
        HWND owner = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        const bool held = OpenClipboard(owner);
        SetEvent(opened);
        WaitForSingleObject(release, 10000);
        if (held) CloseClipboard();
        DestroyWindow(owner);
    });
    WaitForSingleObject(opened, 10000);
    const std::int64_t began = monotonic_ns();
    const ClipboardCopy during = copy_to_clipboard("during");
    const std::int64_t took_ms = (monotonic_ns() - began) / 1000000;
    SetEvent(release);
    holder.join();
    EXPECT_FALSE(during.copied);
    EXPECT_NE(during.error_code, 0u);
    EXPECT_GE(took_ms, 35);   // two pauses of 20 ms between the attempts
    EXPECT_EQ(clipboard_text(), L"before");
}

}  // namespace

#else  // POSIX

#include <sys/stat.h>

#include <map>

namespace {

// PATH holds only a folder of stand-in helpers and no desktop session is set
// (nothing else runs in this program, so nothing is restored).
class ClipboardHelper : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) unsetenv(name);
        setenv("PATH", path_to_utf8(dir).c_str(), 1);
    }
    // A helper that records its arguments and input, then exits with `code`.
    void helper(const std::string& name, int code) {
        const std::string file = path_to_utf8(dir / name);
        write_test_file(dir / name, "#!/bin/sh\necho \"$@\" > \"" + file + ".args\"\n/bin/cat > \"" + file + ".in\"\nexit " +
                                        std::to_string(code) + "\n");
        chmod(file.c_str(), 0755);
    }
    std::filesystem::path dir = make_temp_dir("clipboard");
};

TEST_F(ClipboardHelper, TheSessionDecidesWhichHelperGetsTheLink) {
    struct Row {
        const char* name; const char* wayland; const char* display; std::map<std::string, int> helpers;
        const char* receiver; std::uint32_t error; const char* args; const char* hint;
    };
    const Row rows[] = {
        {"no desktop session", "", "", {{"xclip", 0}}, "", ENOENT, "", "no desktop session"},
        {"x11 with xclip", "", ":0", {{"xclip", 0}, {"xsel", 0}}, "xclip", 0, "-selection clipboard\n", ""},
        {"x11 with xsel only", "", ":0", {{"xsel", 0}}, "xsel", 0, "--clipboard --input\n", ""},
        {"x11 without a helper", "", ":0", {{"wl-copy", 0}}, "", ENOENT, "", "install the package xclip"},
        {"wayland comes first", "wayland-0", ":0", {{"wl-copy", 0}, {"xclip", 0}}, "wl-copy", 0, "\n", ""},
        {"wayland without wl-copy", "wayland-0", "", {{"xclip", 0}}, "", ENOENT, "", "install the package wl-clipboard"},
        {"a failing helper's exit status is the error", "wayland-0", "", {{"wl-copy", 3}}, "wl-copy", 3, "\n", ""},
    };
    const std::string link = "https://rooms.example/r/\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& item : std::filesystem::directory_iterator(dir)) std::filesystem::remove(item.path());
        for (const auto& [name, code] : row.helpers) helper(name, code);
        for (const auto& [name, value] : {std::pair{"WAYLAND_DISPLAY", row.wayland}, std::pair{"DISPLAY", row.display}})
            *value ? setenv(name, value, 1) : unsetenv(name);
        const ClipboardCopy copy = copy_to_clipboard(link);
        EXPECT_EQ(copy.copied, row.error == 0);
        EXPECT_EQ(copy.error_code, row.error);
        std::string got;   // which helper got what
        for (const std::string name : {"wl-copy", "xclip", "xsel"})
            if (std::filesystem::exists(dir / (name + ".in")))
                got += name + " " + read_test_file(dir / (name + ".args")) + read_test_file(dir / (name + ".in"));
        EXPECT_EQ(got, *row.receiver ? row.receiver + std::string(" ") + row.args + link : "");
        const std::string hint = clipboard_missing_hint();
        EXPECT_TRUE(*row.hint ? contains(hint, row.hint) : hint.empty()) << hint;
    }
}

}  // namespace

#endif
