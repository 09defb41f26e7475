// Console code page and wide command line on Windows.
#include "core/console_setup.h"

#include <windows.h>
#include <shellapi.h>

#include "core/text.h"

void use_utf8_console() {
    SetConsoleOutputCP(65001);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i) arguments.push_back(wide_to_utf8(wide[i]));
        LocalFree(wide);
        return arguments;
    }
    // Without the wide command line the ANSI arguments are the best there is.
    for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
    return arguments;
}

void survive_closed_console() {}
