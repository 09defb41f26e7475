// Finding Steam and the library that holds CS2, without asking the user.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "steam/cs2_install.h"


// SteamPath under HKCU\Software\Valve\Steam, unchanged, when it exists on disk.
std::optional<std::filesystem::path> find_steam_root();

// Candidate libraries, best first: those libraryfolders.vdf lists with the
// app, then the others (the old flat file's numbered pairs among them), then
// the Steam folder itself (duplicates kept).
std::vector<std::filesystem::path> library_folders(const std::filesystem::path& steam_root,
                                                   std::uint32_t appid);

// The first candidate library whose game folder exists on disk.
std::optional<Cs2Install> discover_cs2();
