// The two files the agent keeps in CS2's cfg folder: the GSI cfg, which makes
// CS2 POST its state to the agent's listener with the agent's token, and the
// exec cfg, which the player runs to print a status block and ask for the room.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct EventLog;

enum class CfgStatus : int { up_to_date = 0, written = 1, stale = 2, failed = 3 };

struct CfgResult {
    CfgStatus status = CfgStatus::failed;
    std::filesystem::path path;
    std::string detail;
};

inline constexpr const char* kGsiCfgName = "gamestate_integration_vantor.cfg";
inline constexpr const char* kExecCfgName = "vantor.cfg";

// The file contents, byte for byte, line feeds only.
std::string gsi_cfg_text(std::uint32_t port, std::string_view token);
const std::string& exec_cfg_text();

// "up-to-date", "written", "stale", "failed"; "unknown" for anything else.
const char* cfg_status_name(CfgStatus status);

// Brings one file up to date, or with write == false only checks it. An
// existing copy that differs only in carriage returns counts as up to date.
CfgResult write_gsi_cfg(const std::filesystem::path& cfg_folder, std::uint32_t port,
                        std::string_view token, bool write);
CfgResult write_exec_cfg(const std::filesystem::path& cfg_folder, bool write);

// Start-up: both files, their events and the hint lines for what was written.
void set_up_cfg_files(EventLog& log, const std::filesystem::path& cfg_folder, std::uint32_t port,
                      std::string_view token, bool write);

// The auth token of the existing GSI cfg, whatever its top-level key; empty
// when the file, the "auth" block or the "token" value is missing.
std::string read_gsi_cfg_token(const std::filesystem::path& cfg_folder);
