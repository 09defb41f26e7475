// Where the Steam client keeps its state in the registry (HKEY_CURRENT_USER):
// the install folder, and the running client's process and library.
#pragma once

inline constexpr const char* kSteamKey = "Software\\Valve\\Steam";
inline constexpr const char* kSteamActiveProcessKey = "Software\\Valve\\Steam\\ActiveProcess";
