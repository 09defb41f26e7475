// Finding Steam and the library that holds CS2, without asking the user.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "steam/cs2_install.h"


// The Steam folder. Windows: SteamPath under HKCU\Software\Valve\Steam,
// unchanged, when it exists on disk. Linux: the first of steam_root_candidates
// that leads to a Steam folder (one holding steamapps), with its links
// resolved (a dangling link is skipped).
std::optional<std::filesystem::path> find_steam_root();

// Linux: where the Steam folder may be, best first: SteamPath of registry.vdf
// (when something wrote it), ~/.steam/root and ~/.steam/steam (links to the
// install), $XDG_DATA_HOME/Steam (default ~/.local/share/Steam), the Flatpak
// install and its .steam links, the Snap install. Windows: SteamPath alone.
std::vector<std::filesystem::path> steam_root_candidates();

// Linux: the folders where the running client leaves steam.pid and the sdk64
// link to its library: ~/.steam, then the Flatpak's and the Snap's .steam.
// Empty on Windows, where the registry says all of this.
std::vector<std::filesystem::path> steam_user_folders();

// Candidate libraries, best first: those libraryfolders.vdf lists with the
// app, then the others (the old flat file's numbered pairs among them), then
// the Steam folder itself (duplicates kept).
std::vector<std::filesystem::path> library_folders(const std::filesystem::path& steam_root,
                                                   std::uint32_t appid);

// The first candidate library whose game folder exists on disk.
std::optional<Cs2Install> discover_cs2();
