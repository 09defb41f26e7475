#include "agent/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "agent/options.h"
#include "core/event_log.h"
#include "core/files.h"
#include "core/text.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "core/registry.h"

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The entry's command as the system reads it; absent when there is none.
std::optional<std::string> entry() {
    return read_registry_string("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "vantor-agent");
}
void put_entry(const std::optional<std::string>& command) {
    if (!command) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"vantor-agent");
        return;
    }
    const std::wstring value = utf8_to_wide(*command);
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"vantor-agent", REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
// The words Windows splits the command into.
std::vector<std::string> words(const std::string& command) {
    int count = 0;
    wchar_t** split = CommandLineToArgvW(utf8_to_wide(command).c_str(), &count);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(wide_to_utf8(split[i]));
    LocalFree(split);
    return out;
}
const char* kOtherCopy = "C:\\Games\\vantor \xC3\xA9\\vantor-agent.exe";
void isolate() {}

}  // namespace

#else

namespace {

const std::filesystem::path kConfig = make_temp_dir("autostart-config");

std::optional<std::string> entry() {
    const std::optional<std::string> text = read_whole_file(kConfig / "autostart" / "vantor-agent.desktop");
    const std::size_t at = text ? text->find("\nExec=") : std::string::npos;
    if (at == std::string::npos) return std::nullopt;
    return text->substr(at + 6, text->find('\n', at + 1) - at - 6);
}
void put_entry(const std::optional<std::string>& command) {
    if (!command) std::filesystem::remove(kConfig / "autostart" / "vantor-agent.desktop");
    else write_test_file(kConfig / "autostart" / "vantor-agent.desktop", "[Desktop Entry]\nExec=" + *command + "\n");
}
// The words a desktop reads from an Exec value: string escapes first, then
// the quoting, then the field codes (%% for %).
std::vector<std::string> words(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char next = value[++i];
        text += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    std::vector<std::string> out;
    std::string word;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) word += text[++i];
        else if (c == '"') quoted = !quoted, any = true;
        else if (c == ' ' && !quoted) {
            if (any) out.push_back(word);
            word.clear(), any = false;
        } else if (c == '%') {   // a field code, or %% for %
            if (i + 1 < text.size() && text[i + 1] == '%') word += '%', any = true;
            ++i;
        } else {
            word += c, any = true;
        }
    }
    if (any) out.push_back(word);
    return out;
}
const char* kOtherCopy = "/opt/vantor \xC3\xA9/vantor-agent";
void isolate() { setenv("XDG_CONFIG_HOME", kConfig.c_str(), 1); }

}  // namespace

#endif

namespace {

AgentOptions parsed(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "vantor-agent");
    return parse_options(static_cast<int>(arguments.size()), arguments.data());
}

const std::string kOwn = path_to_utf8(own_program_path().value());

}  // namespace

// Only the options that make sense at every start go into the entry; paths
// become absolute, since the session starts the agent where it likes.
TEST(Autostart, TheEntryKeepsTheLastingOptionsOfThisStart) {
    const std::string here = path_to_utf8(std::filesystem::absolute("rel"));
    struct Row { const char* name; std::vector<const char*> given; std::vector<std::string> kept; };
    const Row rows[] = {
        {"nothing given", {}, {}},
        {"the diagnostic modes and --debug never", {"--debug", "--replay", "x.log", "--coplay-once"}, {}},
        {"every lasting option, in one order",
         {"--log-dir", "rel", "--api-base", "http://h", "--gsi-port", "5000", "--console-log", "rel", "--no-tray",
          "--no-write-cfg"},
         {"--no-write-cfg", "--no-tray", "--console-log", here, "--gsi-port", "5000", "--api-base", "http://h",
          "--log-dir", here}},
        {"an empty API base is no API base", {"--api-base", ""}, {}},
    };
    for (const Row& row : rows) EXPECT_EQ(autostart_arguments(parsed(row.given)), row.kept) << row.name;
}

// The entry's reader splits the command back into the very words.
TEST(Autostart, TheCommandSplitsBackIntoItsWords) {
    const std::vector<std::string> arguments = {
        "plain", "two words", "a \"quote\"", "trailing\\", "C:\\dir with space\\", "$HOME `x` 100%", "",
        "--no-tray"};
    for (const std::string& program : {kOwn, std::string(kOtherCopy)}) {
        std::vector<std::string> expected = {program};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(words(autostart_command(path_from_utf8(program), arguments)), expected);
    }
}

// The entry is this agent's only when it starts this very program file; the
// switch writes and removes it and says so in the log.
TEST(Autostart, TheEntryIsWrittenReadBackAndRemoved) {
    isolate();
    struct Row { const char* name; std::optional<std::string> entry; bool here; };
    const std::string ours = autostart_command(path_from_utf8(kOwn), {});
#ifdef _WIN32
    std::string other_case = ours;   // Windows compares file names without regard to case
    for (char& c : other_case) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#endif
    const Row rows[] = {
        {"none", std::nullopt, false},
        {"ours", ours, true},
        {"ours with options of its own", ours + " --gsi-port 1", true},
        {"another copy of the agent", autostart_command(path_from_utf8(kOtherCopy), {}), false},
        {"a program whose name begins with ours", autostart_command(path_from_utf8(kOwn + "x"), {}), false},
#ifdef _WIN32
        {"ours in capitals", other_case, true},
#endif
    };
    for (const Row& row : rows) {
        put_entry(row.entry);
        EXPECT_EQ(autostart_points_here(), row.here) << row.name;
    }

    EventLog log;
    ASSERT_TRUE(log_open(log, make_temp_dir("autostart-log")));
    const AgentOptions options = parsed({"--gsi-port", "5000", "--debug"});
    put_entry(autostart_command(path_from_utf8(kOtherCopy), {}));
    EXPECT_TRUE(set_autostart(true, options, log));   // the other copy's entry is replaced
    EXPECT_EQ(entry(), autostart_command(path_from_utf8(kOwn), {"--gsi-port", "5000"}));
    EXPECT_TRUE(autostart_points_here());
    EXPECT_TRUE(set_autostart(false, options, log));
    EXPECT_EQ(entry(), std::nullopt);
    EXPECT_FALSE(autostart_points_here());
    EXPECT_TRUE(set_autostart(false, options, log));   // off already
    std::vector<std::string> seen;
    for (const auto& record : logged_events(log, "autostart"))
        seen.push_back(record["enabled"].dump() + " " + record.value("command", "-") + " " + record["place"].get<std::string>());
    const std::string place = autostart_place();
    EXPECT_EQ(seen, (std::vector<std::string>{"true " + autostart_command(path_from_utf8(kOwn), {"--gsi-port", "5000"}) + " " + place,
                                              "false - " + place, "false - " + place}));
}

#ifndef _WIN32
// Where the entry goes: $XDG_CONFIG_HOME when absolute, else ~/.config; it is
// a desktop entry that runs without a terminal.
TEST(Autostart, TheDesktopEntryFollowsXdgConfigHome) {
    const std::filesystem::path home = make_temp_dir("autostart-home");
    struct Row { const char* name; const char* config; std::filesystem::path file; };
    const Row rows[] = {
        {"absolute XDG_CONFIG_HOME", kConfig.c_str(), kConfig / "autostart/vantor-agent.desktop"},
        {"relative XDG_CONFIG_HOME is ignored", "relative", home / ".config/autostart/vantor-agent.desktop"},
        {"none", nullptr, home / ".config/autostart/vantor-agent.desktop"},
    };
    setenv("HOME", home.c_str(), 1);
    EventLog log;
    for (const Row& row : rows) {
        row.config ? setenv("XDG_CONFIG_HOME", row.config, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(autostart_place(), row.file.string()) << row.name;
        ASSERT_TRUE(set_autostart(true, parsed({}), log));
        EXPECT_EQ(read_test_file(row.file), "[Desktop Entry]\nType=Application\nName=vantor-agent\n"
                                            "Comment=The room link of your CS2 match\nExec=" +
                                                autostart_command(path_from_utf8(kOwn), {}) + "\nTerminal=false\n"
                                                "X-GNOME-Autostart-enabled=true\n") << row.name;
        EXPECT_TRUE(words(autostart_command(path_from_utf8(kOwn), {})).back() == "--no-tray");   // no tray here
        ASSERT_TRUE(set_autostart(false, parsed({}), log));
        EXPECT_FALSE(std::filesystem::exists(row.file)) << row.name;
    }
}
#endif
