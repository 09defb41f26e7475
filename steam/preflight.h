// The start-up checks: can the agent work on this machine right now? They
// only look; they change nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "steam/cs2_install.h"

struct PreflightCheck {
    std::string name;
    bool ok = false;
    std::string detail;
};

// "steam client", "cs2 install", "console.log", "-condebug", "cs2 process",
// "gsi port", in that order; the console.log check needs the install and the
// -condebug check needs console.log.
std::vector<PreflightCheck> run_preflight(const std::optional<Cs2Install>& install, int gsi_port);

// The "-condebug" check from what run_preflight gathered: whether CS2 runs,
// the age of console.log (-1 unknown) and its content (absent: unreadable).
PreflightCheck condebug_check(bool cs2_running, std::int64_t console_log_age,
                              const std::optional<std::string>& console_log_text);

// The "steam client" check: is the Steam client running? Windows: the
// ActiveProcess value SteamClientDll64 is present. Linux: steam.pid (or HKLM
// SteamPID of registry.vdf) names a live process called "steam".
PreflightCheck steam_client_check();

// A process named cs2.exe (Windows, any case) or cs2 (elsewhere) is running.
bool is_cs2_running();

// True when a TCP socket can be bound to 127.0.0.1:port; the port is released
// again before returning.
bool gsi_port_free(int port);

// Whole seconds since the last write, truncated; -1 when it cannot be read.
std::int64_t file_age_seconds(const std::filesystem::path& path);

// "unknown age", "modified just now", "modified N min ago", "modified N h ago".
std::string file_age_text(std::int64_t age);

// The trimmed line holding the last occurrence of needle; "" when none.
std::string last_line_containing(std::string_view text, std::string_view needle);
