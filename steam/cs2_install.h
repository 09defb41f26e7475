// Where Steam and CS2 live on this machine; the result of discovery.
#pragma once

#include <filesystem>

struct Cs2Install {
    std::filesystem::path steam_root;
    std::filesystem::path library;       // the Steam library that holds app 730
    std::filesystem::path game_dir;      // .../game/csgo
    std::filesystem::path cfg_dir;       // game_dir / "cfg"
    std::filesystem::path console_log;   // game_dir / "console.log"
};
