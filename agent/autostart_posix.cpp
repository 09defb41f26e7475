// An XDG autostart entry: desktops without a systemd user session start
// what $XDG_CONFIG_HOME/autostart holds when the player logs in.
#include "agent/autostart.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "core/files.h"
#include "core/text.h"

namespace {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; empty
// without a home.
std::filesystem::path entry_path() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (config && *config == '/') folder = config;
    else if (home && *home) folder = std::filesystem::path(home) / ".config";
    else return {};
    return folder / "autostart" / "vantor-agent.desktop";
}

// One Exec word: quoted, with the characters the quoting reserves escaped
// and % doubled (a lone % would be a field code).
std::string exec_word(const std::string& text) {
    std::string word = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') word += '\\';
        if (c == '%') word += '%';
        word += c;
    }
    return word + "\"";
}

// A desktop entry's string escapes, which its reader undoes before it
// splits the Exec value into words.
std::string string_value(const std::string& text) {
    std::string value;
    for (char c : text) {
        if (c == '\\') value += "\\\\";
        else if (c == '\n') value += "\\n";
        else if (c == '\t') value += "\\t";
        else if (c == '\r') value += "\\r";
        else value += c;
    }
    return value;
}

}  // namespace

std::string autostart_command(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) {
    std::string command = exec_word(path_to_utf8(program));
    for (const std::string& argument : arguments) command += " " + exec_word(argument);
    // No notification area away from Windows: without this every start
    // would say so.
    if (std::find(arguments.begin(), arguments.end(), "--no-tray") == arguments.end())
        command += " " + exec_word("--no-tray");
    return string_value(command);
}

bool autostart_points_here() {
    const std::optional<std::filesystem::path> program = own_program_path();
    const std::optional<std::string> text = read_whole_file(entry_path());
    if (!program || !text || entry_path().empty()) return false;
    const std::string start = "\nExec=" + string_value(exec_word(path_to_utf8(*program)));
    const std::size_t at = ("\n" + *text).find(start);
    if (at == std::string::npos) return false;
    const std::size_t after = at + start.size() - 1;   // in `text`, without the added line feed
    return after >= text->size() || (*text)[after] == ' ' || (*text)[after] == '\n';
}

bool write_autostart(const std::string& command, std::string& error) {
    const std::filesystem::path path = entry_path();
    if (path.empty()) {
        error = "no home folder (HOME is not set)";
        return false;
    }
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=vantor-agent\n"
        "Comment=The room link of your CS2 match\n"
        "Exec=" + command + "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    if (write_whole_file(path, entry)) return true;
    error = "cannot write " + path_to_utf8(path);
    return false;
}

bool remove_autostart(std::string& error) {
    const std::filesystem::path path = entry_path();
    std::error_code failed;
    if (path.empty() || std::filesystem::remove(path, failed) || !failed) return true;
    error = "cannot remove " + path_to_utf8(path) + ": " + failed.message();
    return false;
}

std::string autostart_place() {
    const std::filesystem::path path = entry_path();
    return path.empty() ? "~/.config/autostart/vantor-agent.desktop" : path_to_utf8(path);
}
