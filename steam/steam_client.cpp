#include "steam/steam_client.h"

#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "steam/steam_interfaces.h"
#include "steam/steam_registry.h"

namespace {

// Releases and reports: every failing step after the load ends here.
bool fail(SteamConnection& connection, std::string& error_text, std::string text) {
    steam_release(connection);
    error_text = std::move(text);
    return false;
}

}  // namespace

SteamConnection::~SteamConnection() { steam_release(*this); }

bool steam_connect(SteamConnection& connection, std::string& error_text) {
    steam_release(connection);   // a reused connection starts from nothing

    const std::optional<std::string> path = steam_client_library_path();
    if (!path) {
        error_text = steam_client_missing_text();
        return false;
    }

    connection.library = steam_library_load(*path, error_text);
    if (connection.library == nullptr) return false;

    void* entry = steam_library_symbol(connection.library, "CreateInterface");
    if (entry == nullptr) {
        return fail(connection, error_text,
                    std::string(kSteamClientLibraryName) + " has no CreateInterface export");
    }
    auto create_interface = reinterpret_cast<SteamCreateInterfaceFn>(entry);

    connection.client = create_interface(kSteamClientVersion, nullptr);
    if (connection.client == nullptr) {
        return fail(connection, error_text,
                    std::string("Steam client did not provide ") + kSteamClientVersion +
                        " -- update Steam, or update the vendored SDK");
    }

    connection.pipe = client_create_steam_pipe(connection.client);
    if (connection.pipe == 0) return fail(connection, error_text, "CreateSteamPipe failed");

    connection.steam_user = client_connect_to_global_user(connection.client, connection.pipe);
    if (connection.steam_user == 0) {
        return fail(connection, error_text,
                    "ConnectToGlobalUser failed -- is anyone logged into Steam?");
    }

    // Both are asked for before either is tested.
    connection.friends = client_get_steam_friends(connection.client, connection.steam_user,
                                                  connection.pipe, kSteamFriendsVersion);
    connection.user = client_get_steam_user(connection.client, connection.steam_user,
                                            connection.pipe, kSteamUserVersion);
    if (connection.friends == nullptr || connection.user == nullptr) {
        return fail(connection, error_text,
                    std::string("Steam client did not provide ") + kSteamFriendsVersion + " / " +
                        kSteamUserVersion + " -- update Steam, or update the vendored SDK");
    }

    connection.self_steamid = user_get_steam_id(connection.user);
    return true;
}

void steam_release(SteamConnection& connection) {
    if (connection.client != nullptr && connection.pipe != 0) {
        if (connection.steam_user != 0) {
            client_release_user(connection.client, connection.pipe, connection.steam_user);
        }
        client_release_steam_pipe(connection.client, connection.pipe);
    }
    connection.client = nullptr;
    connection.friends = nullptr;
    connection.user = nullptr;
    connection.pipe = 0;
    connection.steam_user = 0;
    if (connection.library != nullptr) {
        steam_library_unload(connection.library);
        connection.library = nullptr;
    }
}

std::string steam_self_persona(const SteamConnection& connection) {
    if (connection.friends == nullptr) return {};
    const char* name = friends_get_persona_name(connection.friends);
    return name != nullptr ? std::string(name) : std::string();
}

bool steam_init(SteamConnection& connection, EventLog& log) {
    std::string error_text;
    if (!steam_connect(connection, error_text)) {
        log_event(log, "error", {{"where", "steam_init"}, {"detail", error_text}},
                  "steam: " + error_text);
        return false;
    }
    const std::string id = std::to_string(connection.self_steamid);
    const std::string persona = steam_self_persona(connection);
    log_event(log, "steam_init",
              {{"self_steamid", id},
               {"persona", persona},
               {"client_interface", kSteamClientVersion},
               {"friends_interface", kSteamFriendsVersion},
               {"user_interface", kSteamUserVersion}},
              "steam: " + id + " '" + persona + "'");
    return true;
}
