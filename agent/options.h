// The parsed command line, read-only after parsing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "agent/settings.h"

struct AgentOptions {
    std::string replay_path;              // as typed; empty: no replay
    bool coplay_once = false;
    bool write_cfg = true;
    std::filesystem::path console_log;    // empty: the one next to CS2
    std::uint32_t gsi_port = kDefaultGsiPort;
    bool gsi_port_given = false;
    std::string api_base;                 // empty: the saved or built-in one
    bool tray = true;
    std::filesystem::path log_dir;        // empty: the default log folder
    bool debug = false;
    bool help = false;
    bool print_systemd_unit = false;      // Linux only
    std::string autostart;                // "on", "off"; empty: not asked for
    std::string error;                    // the first usage error
};

AgentOptions parse_options(int argc, const char* const* argv);
const std::string& help_text();
