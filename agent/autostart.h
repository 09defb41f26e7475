// Starting the agent with the player's session: the Run key of the registry
// on Windows (HKCU\Software\Microsoft\Windows\CurrentVersion\Run, value
// "vantor-agent"), an XDG autostart entry elsewhere
// ($XDG_CONFIG_HOME/autostart/vantor-agent.desktop). Switched by the tray's
// "Start with Windows" and by --autostart on|off.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct AgentOptions;
struct EventLog;

// The options of this start that make sense at every start, paths made
// absolute (the session starts the agent in a folder of its own choosing);
// never --replay, --coplay-once, --debug or --autostart.
std::vector<std::string> autostart_arguments(const AgentOptions& options);

// Writes the entry (on) that starts this program with the options' lasting
// arguments, or removes it (off; an absent entry is off already). One record
// (`autostart`, or `error` with where "autostart") and one console line.
bool set_autostart(bool on, const AgentOptions& options, EventLog& log);

// Platform halves.

// The command line the entry runs: `program` quoted, then the arguments,
// quoted as the entry's reader splits them.
std::string autostart_command(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments);

// Whether the entry is there and starts this very program file (an entry
// for another copy of the agent is not this one's).
bool autostart_points_here();

bool write_autostart(const std::string& command, std::string& error);
bool remove_autostart(std::string& error);

// Where the entry lives, as the player would look for it.
std::string autostart_place();
