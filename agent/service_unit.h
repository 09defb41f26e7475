// The systemd user unit that runs the agent in the background on Linux,
// printed by --print-systemd-unit for the player to save.
#pragma once

#include <filesystem>
#include <string>

// The unit text with `program` (the agent's own path) as its ExecStart.
std::string systemd_unit_text(const std::filesystem::path& program);

// Whether this platform offers --print-systemd-unit (Linux does, Windows has
// the tray and its own autostart).
bool service_unit_offered();

// The option's lines of the help text, where it is offered.
inline constexpr const char* kServiceUnitHelp =
    "  --print-systemd-unit    print a systemd user unit that runs the agent in the\n"
    "                          background, and exit\n";
