// The three Steam client interfaces the agent calls, reached through their
// tables of virtual methods by position. Each wrapper takes the interface
// pointer and passes handles and SteamID64s by value.
//
// The Windows client is built with Microsoft's compiler and the Linux client
// with GCC, so a few slots are called differently per platform (see
// steam_interfaces.cpp); the callers here never see the difference.
#pragma once

#include <cstddef>
#include <cstdint>

// Filled by GetFriendGamePlayed. The same layout under MSVC, MinGW and GCC:
// every member sits on its natural alignment, so no packing is involved.
struct SteamGameInfo {
    std::uint64_t game_id = 0;       // bits 0-23 app id, 24-31 id type, 32-63 mod id
    std::uint32_t server_ip = 0;
    std::uint16_t game_port = 0;
    std::uint16_t query_port = 0;
    std::uint64_t lobby = 0;         // SteamID64 of the lobby
};
static_assert(sizeof(SteamGameInfo) == 24, "game-info record is 24 bytes");
static_assert(offsetof(SteamGameInfo, server_ip) == 8);
static_assert(offsetof(SteamGameInfo, game_port) == 12);
static_assert(offsetof(SteamGameInfo, query_port) == 14);
static_assert(offsetof(SteamGameInfo, lobby) == 16);

inline constexpr const char* kSteamClientVersion = "SteamClient023";
inline constexpr const char* kSteamFriendsVersion = "SteamFriends018";
inline constexpr const char* kSteamUserVersion = "SteamUser023";

// The exported entry point: (version, return code or null) -> interface.
using SteamCreateInterfaceFn = void* (*)(const char* version, int* return_code);

// Positions in the tables of virtual methods.
enum SteamClientSlot : int {
    kClientCreateSteamPipe = 0,
    kClientReleaseSteamPipe = 1,
    kClientConnectToGlobalUser = 2,
    kClientReleaseUser = 4,
    kClientGetSteamUser = 5,
    kClientGetSteamFriends = 8,
};
enum SteamUserSlot : int {
    kUserGetSteamId = 2,
};
enum SteamFriendsSlot : int {
    kFriendsGetPersonaName = 0,
    kFriendsGetFriendCount = 2,
    kFriendsGetFriendByIndex = 3,
    kFriendsGetFriendRelationship = 4,
    kFriendsGetFriendPersonaName = 6,
    kFriendsGetFriendGamePlayed = 7,
    kFriendsGetFriendPersonaNameHistory = 8,
    kFriendsGetPlayerNickname = 10,
    kFriendsRequestUserInformation = 36,
    kFriendsGetCoplayFriendCount = 48,
    kFriendsGetCoplayFriend = 49,
    kFriendsGetFriendCoplayTime = 50,
    kFriendsGetFriendCoplayGame = 51,
};

// SteamClient023
std::uint32_t client_create_steam_pipe(void* client);
void client_release_steam_pipe(void* client, std::uint32_t pipe);
std::uint32_t client_connect_to_global_user(void* client, std::uint32_t pipe);
void client_release_user(void* client, std::uint32_t pipe, std::uint32_t user);
void* client_get_steam_user(void* client, std::uint32_t user, std::uint32_t pipe,
                            const char* version);
void* client_get_steam_friends(void* client, std::uint32_t user, std::uint32_t pipe,
                               const char* version);

// SteamUser023
std::uint64_t user_get_steam_id(void* user);

// SteamFriends018. Text results are the client's own buffers (or null).
const char* friends_get_persona_name(void* friends);
int friends_get_friend_count(void* friends, int flags);
std::uint64_t friends_get_friend_by_index(void* friends, int index, int flags);
int friends_get_friend_relationship(void* friends, std::uint64_t id);
const char* friends_get_friend_persona_name(void* friends, std::uint64_t id);
bool friends_get_friend_game_played(void* friends, std::uint64_t id, SteamGameInfo* info);
const char* friends_get_friend_persona_name_history(void* friends, std::uint64_t id, int index);
const char* friends_get_player_nickname(void* friends, std::uint64_t id);
bool friends_request_user_information(void* friends, std::uint64_t id, bool name_only);
int friends_get_coplay_friend_count(void* friends);
std::uint64_t friends_get_coplay_friend(void* friends, int index);
int friends_get_friend_coplay_time(void* friends, std::uint64_t id);
std::uint32_t friends_get_friend_coplay_game(void* friends, std::uint64_t id);

// --- Shared by steam_interfaces.cpp and its platform files ---

// The method at `position` of the interface's table, as a plain function
// whose first argument is the interface pointer.
template <typename Fn>
Fn interface_slot(void* iface, int position) {
    void** table = *static_cast<void***>(iface);
    return reinterpret_cast<Fn>(table[position]);
}

// Slots that return a SteamID (a class), each platform with its compiler's
// convention: a result pointer after `this` for the Windows client, the value
// in RAX for the Linux client.
std::uint64_t call_id_slot(void* iface, int position);
std::uint64_t call_id_slot(void* iface, int position, int a);
std::uint64_t call_id_slot(void* iface, int position, int a, int b);
