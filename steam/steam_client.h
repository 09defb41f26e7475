// The connection to the running Steam client: its library loaded at run time,
// its client, friends and user interfaces, our own pipe and the logged-in user.
// A closed connection (all null) is always safe to pass to the readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct EventLog;

struct SteamConnection {
    void* library = nullptr;         // steamclient64.dll once loaded
    void* client = nullptr;          // SteamClient023
    void* friends = nullptr;         // SteamFriends018
    void* user = nullptr;            // SteamUser023
    std::uint32_t pipe = 0;          // 0 = none
    std::uint32_t steam_user = 0;    // 0 = none
    std::uint64_t self_steamid = 0;  // the logged-in user, read once at connect

    SteamConnection() = default;
    ~SteamConnection();              // releases whatever is still open
    SteamConnection(const SteamConnection&) = delete;
    SteamConnection& operator=(const SteamConnection&) = delete;
};

// Opens the connection. On failure `error_text` holds one line and the
// connection is released again (user, pipe, library).
bool steam_connect(SteamConnection& connection, std::string& error_text);

// Releases the user and the pipe and unloads the library. Does nothing on a
// connection that never opened or is already released.
void steam_release(SteamConnection& connection);

// The logged-in user's persona name; empty without friends interface or name.
std::string steam_self_persona(const SteamConnection& connection);

// steam_connect plus its report: the `error` event (where "steam_init") or the
// `steam_init` event. True when Steam data is available for this run.
bool steam_init(SteamConnection& connection, EventLog& log);

// Platform part (steam_client_win32.cpp / steam_client_posix.cpp).
// "steamclient64.dll" on Windows, "steamclient.so" on Linux: for messages.
extern const char* const kSteamClientLibraryName;
// Where the client library is. Windows: HKCU\Software\Valve\Steam\ActiveProcess
// SteamClientDll64. Linux: that value when registry.vdf holds it, else
// ~/.steam/sdk64/steamclient.so (the link Steam keeps for other programs),
// else <Steam folder>/linux64/steamclient.so.
std::optional<std::string> steam_client_library_path();
// The error text when steam_client_library_path finds nothing.
std::string steam_client_missing_text();
// Null on failure, with error_text = "LoadLibrary(<path>) failed: <code>" on
// Windows, "dlopen(<path>) failed: <dlerror text>" on Linux.
void* steam_library_load(const std::string& path, std::string& error_text);
void* steam_library_symbol(void* library, const char* name);
void steam_library_unload(void* library);
