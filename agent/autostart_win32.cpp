// The Run key of the current user: Windows starts what it names at log-on.
#include "agent/autostart.h"

#include <windows.h>

#include "core/files.h"
#include "core/registry.h"
#include "core/text.h"

namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kValueName[] = "vantor-agent";

// One argument as CommandLineToArgvW and the C runtime split it again:
// quoted when it holds a blank or a quote, backslashes doubled before a quote.
std::string argument_word(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    std::string word = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        word.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        word += c;
        backslashes = 0;
    }
    word.append(backslashes * 2, '\\');
    return word + "\"";
}

std::string registry_failure(const char* call, LONG code) {
    return std::string(call) + " failed, error " + std::to_string(code);
}

}  // namespace

std::string autostart_command(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) {
    // A path holds no quote, so plain quotes keep its blanks in one word.
    std::string command = "\"";
    command += path_to_utf8(program);
    command += '"';
    for (const std::string& argument : arguments) {
        command += ' ';
        command += argument_word(argument);
    }
    return command;
}

bool autostart_points_here() {
    const std::optional<std::string> value = read_registry_string(kRunKey, kValueName);
    const std::optional<std::filesystem::path> program = own_program_path();
    if (!value || !program) return false;
    const std::wstring start = utf8_to_wide(autostart_command(*program, {}));
    const std::wstring command = utf8_to_wide(*value);
    if (command.size() < start.size()) return false;
    if (command.size() > start.size() && command[start.size()] != L' ') return false;
    // File names compare without regard to case.
    return CompareStringOrdinal(command.c_str(), static_cast<int>(start.size()), start.c_str(),
                                static_cast<int>(start.size()), TRUE) == CSTR_EQUAL;
}

bool write_autostart(const std::string& command, std::string& error) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, utf8_to_wide(kRunKey).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        error = registry_failure("RegCreateKeyExW", rc);
        return false;
    }
    const std::wstring value = utf8_to_wide(command);
    rc = RegSetValueExW(key, utf8_to_wide(kValueName).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) error = registry_failure("RegSetValueExW", rc);
    return rc == ERROR_SUCCESS;
}

bool remove_autostart(std::string& error) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, utf8_to_wide(kRunKey).c_str(), 0, KEY_SET_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return true;
    if (rc != ERROR_SUCCESS) {
        error = registry_failure("RegOpenKeyExW", rc);
        return false;
    }
    rc = RegDeleteValueW(key, utf8_to_wide(kValueName).c_str());
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) return true;
    error = registry_failure("RegDeleteValueW", rc);
    return false;
}

std::string autostart_place() {
    std::string place = "HKCU\\";
    place += kRunKey;
    place += '\\';
    place += kValueName;
    return place;
}
