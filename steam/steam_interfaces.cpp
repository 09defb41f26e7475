// Calls into the Steam client's interface tables.
//
// Every method is called as a plain function whose first argument is the
// interface pointer; on x64 that is where both MSVC and GCC put `this`.
//
// Slots that return a class (CSteamID: GetSteamID, GetFriendByIndex,
// GetCoplayFriend) differ. The Windows client is built with MSVC, which
// returns any class from a member function through a hidden result pointer
// passed right after `this` (and hands that pointer back in RAX), even for an
// 8-byte class. MinGW would expect the value in RAX and read garbage, so on
// Windows those slots are declared with the result pointer spelled out. The
// Linux client is built with GCC, where the 8-byte class comes back in RAX.
//
// bool results are read as one byte: only AL is defined by either compiler.
#include "steam/steam_interfaces.h"

std::uint32_t client_create_steam_pipe(void* client) {
    auto fn = interface_slot<std::int32_t (*)(void*)>(client, kClientCreateSteamPipe);
    return static_cast<std::uint32_t>(fn(client));
}

void client_release_steam_pipe(void* client, std::uint32_t pipe) {
    auto fn = interface_slot<std::uint8_t (*)(void*, std::int32_t)>(client, kClientReleaseSteamPipe);
    fn(client, static_cast<std::int32_t>(pipe));
}

std::uint32_t client_connect_to_global_user(void* client, std::uint32_t pipe) {
    auto fn = interface_slot<std::int32_t (*)(void*, std::int32_t)>(client, kClientConnectToGlobalUser);
    return static_cast<std::uint32_t>(fn(client, static_cast<std::int32_t>(pipe)));
}

void client_release_user(void* client, std::uint32_t pipe, std::uint32_t user) {
    auto fn = interface_slot<void (*)(void*, std::int32_t, std::int32_t)>(client, kClientReleaseUser);
    fn(client, static_cast<std::int32_t>(pipe), static_cast<std::int32_t>(user));
}

void* client_get_steam_user(void* client, std::uint32_t user, std::uint32_t pipe,
                            const char* version) {
    auto fn = interface_slot<void* (*)(void*, std::int32_t, std::int32_t, const char*)>(
        client, kClientGetSteamUser);
    return fn(client, static_cast<std::int32_t>(user), static_cast<std::int32_t>(pipe), version);
}

void* client_get_steam_friends(void* client, std::uint32_t user, std::uint32_t pipe,
                               const char* version) {
    auto fn = interface_slot<void* (*)(void*, std::int32_t, std::int32_t, const char*)>(
        client, kClientGetSteamFriends);
    return fn(client, static_cast<std::int32_t>(user), static_cast<std::int32_t>(pipe), version);
}

std::uint64_t user_get_steam_id(void* user) {
    return call_id_slot(user, kUserGetSteamId);
}

const char* friends_get_persona_name(void* friends) {
    return interface_slot<const char* (*)(void*)>(friends, kFriendsGetPersonaName)(friends);
}

int friends_get_friend_count(void* friends, int flags) {
    return interface_slot<std::int32_t (*)(void*, int)>(friends, kFriendsGetFriendCount)(friends, flags);
}

std::uint64_t friends_get_friend_by_index(void* friends, int index, int flags) {
    return call_id_slot(friends, kFriendsGetFriendByIndex, index, flags);
}

int friends_get_friend_relationship(void* friends, std::uint64_t id) {
    auto fn = interface_slot<std::int32_t (*)(void*, std::uint64_t)>(friends, kFriendsGetFriendRelationship);
    return fn(friends, id);
}

const char* friends_get_friend_persona_name(void* friends, std::uint64_t id) {
    auto fn = interface_slot<const char* (*)(void*, std::uint64_t)>(friends, kFriendsGetFriendPersonaName);
    return fn(friends, id);
}

bool friends_get_friend_game_played(void* friends, std::uint64_t id, SteamGameInfo* info) {
    auto fn = interface_slot<std::uint8_t (*)(void*, std::uint64_t, SteamGameInfo*)>(
        friends, kFriendsGetFriendGamePlayed);
    return fn(friends, id, info) != 0;
}

const char* friends_get_friend_persona_name_history(void* friends, std::uint64_t id, int index) {
    auto fn = interface_slot<const char* (*)(void*, std::uint64_t, int)>(
        friends, kFriendsGetFriendPersonaNameHistory);
    return fn(friends, id, index);
}

const char* friends_get_player_nickname(void* friends, std::uint64_t id) {
    auto fn = interface_slot<const char* (*)(void*, std::uint64_t)>(friends, kFriendsGetPlayerNickname);
    return fn(friends, id);
}

bool friends_request_user_information(void* friends, std::uint64_t id, bool name_only) {
    auto fn = interface_slot<std::uint8_t (*)(void*, std::uint64_t, bool)>(
        friends, kFriendsRequestUserInformation);
    return fn(friends, id, name_only) != 0;
}

int friends_get_coplay_friend_count(void* friends) {
    return interface_slot<std::int32_t (*)(void*)>(friends, kFriendsGetCoplayFriendCount)(friends);
}

std::uint64_t friends_get_coplay_friend(void* friends, int index) {
    return call_id_slot(friends, kFriendsGetCoplayFriend, index);
}

int friends_get_friend_coplay_time(void* friends, std::uint64_t id) {
    auto fn = interface_slot<std::int32_t (*)(void*, std::uint64_t)>(friends, kFriendsGetFriendCoplayTime);
    return fn(friends, id);
}

std::uint32_t friends_get_friend_coplay_game(void* friends, std::uint64_t id) {
    auto fn = interface_slot<std::uint32_t (*)(void*, std::uint64_t)>(friends, kFriendsGetFriendCoplayGame);
    return fn(friends, id);
}
