// The systemd user unit that runs the agent in the background on Linux,
// printed by --print-systemd-unit for the player to save.
#pragma once

#include <filesystem>
#include <string>

// The unit text with `program` (the agent's own path) as its ExecStart.
std::string systemd_unit_text(const std::filesystem::path& program);
