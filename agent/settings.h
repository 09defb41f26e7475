// The settings kept between runs in agent.json in the agent data folder: the
// GSI token CS2 must send, the local GSI port and the web API's base URL.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::uint32_t kDefaultGsiPort = 47474;

// The API the agent reports to unless agent.json or --api-base says otherwise.
inline constexpr const char* kDefaultApiBase = "https://api.vantor.gg";

struct AgentSettings {
    std::string gsi_token;
    std::uint32_t gsi_port = kDefaultGsiPort;
    std::string api_base_url;     // empty: no API
};

// Loads agent.json from `data_folder` (a missing, damaged or non-object file
// is ignored as a whole; one that is there but cannot be used is first kept
// aside as agent.broken-<local time>.json, and a problem says where it went
// and that the defaults are in use), takes an empty token over from the GSI cfg in
// `cfg_folder` or makes a new one, applies the overrides (a port above 0, a
// non-empty API base) and writes agent.json back with the three values,
// readable by the user alone (it holds the token).
// Loading never fails as a whole: `problems` holds one line for each value in
// the file that could not be used as it stood (a port outside 1..65535, a
// token CS2 could not be given) and for a file kept aside.
struct LoadedSettings {
    AgentSettings settings;
    std::vector<std::string> problems;
};
LoadedSettings load_settings(const std::filesystem::path& data_folder,
                             const std::filesystem::path& cfg_folder,
                             std::int32_t port_override, std::string_view api_base);

// 16 lowercase hexadecimal digits from 8 bytes of the strong random source;
// empty when the source fails.
std::string new_gsi_token();

// Whether a token can be written into the GSI cfg as it stands: the cfg
// quotes it without escaping, so a quote, a backslash or a control character
// would change the file's meaning. It must also be UTF-8 to be saved
// unchanged in agent.json.
bool usable_gsi_token(std::string_view token);

