// A stand-in for the Steam client library: exports CreateInterface and serves
// SteamClient023, SteamFriends018 and SteamUser023 from a JSON fixture.
//
// The tables are written out slot by slot. Each method is a plain function
// whose first argument is the interface (`this`). Methods that return a class
// (CSteamID) follow the compiler the real client is built with: on Windows
// MSVC's convention - the caller passes a result pointer right after `this`
// and gets it back - and on Linux GCC's, the 8-byte value in RAX. Every slot
// the agent has no business calling aborts with its position.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "fake_fixture.h"

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr std::int32_t kPipe = 7;     // distinct handles, so a swapped
constexpr std::int32_t kUser = 11;    // argument order is noticed

struct GameInfo {                     // FriendGameInfo_t
    std::uint64_t game_id;
    std::uint32_t server_ip;
    std::uint16_t game_port;
    std::uint16_t query_port;
    std::uint64_t lobby;
};
static_assert(sizeof(GameInfo) == 24);

FakeWorld g_world;
const std::string kUnknown = "[unknown]";

struct Interface {
    void* const* table;
};

std::string id_text(std::uint64_t id) { return std::to_string(id); }

FakePerson* person_of(std::uint64_t id) {
    auto it = g_world.people.find(id);
    return it == g_world.people.end() ? nullptr : &it->second;
}

const char* c_text(const std::string* text) { return text ? text->c_str() : nullptr; }
const char* c_text(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

template <std::size_t N>
[[noreturn]] void trap() {
    std::fprintf(stderr, "fake steamclient: unexpected call of table slot %zu\n", N);
    std::fflush(stderr);
    std::abort();
}

template <std::size_t Size, std::size_t... I>
std::array<void*, Size> traps(std::index_sequence<I...>) {
    return {reinterpret_cast<void*>(&trap<I>)...};
}

template <std::size_t Size>
std::array<void*, Size> trap_table() {
    return traps<Size>(std::make_index_sequence<Size>());
}

// ---- SteamClient023 ------------------------------------------------------

std::int32_t CreateSteamPipe(void*) {
    log_fake_call("CreateSteamPipe");
    return g_world.pipe_ok ? kPipe : 0;
}

std::uint8_t BReleaseSteamPipe(void*, std::int32_t pipe) {
    log_fake_call("BReleaseSteamPipe " + std::to_string(pipe));
    return pipe == kPipe;
}

std::int32_t ConnectToGlobalUser(void*, std::int32_t pipe) {
    log_fake_call("ConnectToGlobalUser " + std::to_string(pipe));
    return (pipe == kPipe && g_world.logged_in) ? kUser : 0;
}

void ReleaseUser(void*, std::int32_t pipe, std::int32_t user) {
    log_fake_call("ReleaseUser " + std::to_string(pipe) + " " + std::to_string(user));
}

extern Interface g_user;
extern Interface g_friends;

void* GetISteamUser(void*, std::int32_t user, std::int32_t pipe, const char* version) {
    log_fake_call("GetISteamUser " + std::to_string(user) + " " + std::to_string(pipe) + " " +
                  (version ? version : "(null)"));
    if (user != kUser || pipe != kPipe || !version) return nullptr;
    return (g_world.offers_user && std::strcmp(version, "SteamUser023") == 0) ? &g_user : nullptr;
}

void* GetISteamFriends(void*, std::int32_t user, std::int32_t pipe, const char* version) {
    log_fake_call("GetISteamFriends " + std::to_string(user) + " " + std::to_string(pipe) + " " +
                  (version ? version : "(null)"));
    if (user != kUser || pipe != kPipe || !version) return nullptr;
    return (g_world.offers_friends && std::strcmp(version, "SteamFriends018") == 0) ? &g_friends
                                                                                      : nullptr;
}

// ---- SteamUser023 --------------------------------------------------------

#ifdef _WIN32
std::uint64_t* GetSteamID(void*, std::uint64_t* result) {
    log_fake_call("GetSteamID");
    *result = g_world.self_steamid;
    return result;
}
#else
std::uint64_t GetSteamID(void*) {
    log_fake_call("GetSteamID");
    return g_world.self_steamid;
}
#endif

// ---- SteamFriends018 -----------------------------------------------------

const char* GetPersonaName(void*) {
    log_fake_call("GetPersonaName");
    return c_text(g_world.self_persona);
}

std::int32_t GetFriendCount(void*, int flags) {
    log_fake_call("GetFriendCount " + std::to_string(flags));
    if (flags != 4) return 0;   // only immediate friends are served
    return g_world.friend_count ? *g_world.friend_count
                                : static_cast<std::int32_t>(g_world.friends.size());
}

std::uint64_t friend_at(int index, int flags) {
    log_fake_call("GetFriendByIndex " + std::to_string(index) + " " + std::to_string(flags));
    if (flags != 4 || index < 0 || static_cast<std::size_t>(index) >= g_world.friends.size()) return 0;
    return g_world.friends[static_cast<std::size_t>(index)];
}

#ifdef _WIN32
std::uint64_t* GetFriendByIndex(void*, std::uint64_t* result, int index, int flags) {
    *result = friend_at(index, flags);
    return result;
}
#else
std::uint64_t GetFriendByIndex(void*, int index, int flags) { return friend_at(index, flags); }
#endif

std::int32_t GetFriendRelationship(void*, std::uint64_t id) {
    log_fake_call("GetFriendRelationship " + id_text(id));
    FakePerson* person = person_of(id);
    return person ? person->relationship : 0;
}

const char* GetFriendPersonaName(void*, std::uint64_t id) {
    log_fake_call("GetFriendPersonaName " + id_text(id));
    FakePerson* person = person_of(id);
    return person ? c_text(current_persona(g_world, *person)) : kUnknown.c_str();
}

std::uint8_t GetFriendGamePlayed(void*, std::uint64_t id, GameInfo* info) {
    log_fake_call("GetFriendGamePlayed " + id_text(id));
    FakePerson* person = person_of(id);
    if (!person || !person->in_game || !info) return 0;
    *info = GameInfo{person->game_id, person->server_ip, person->game_port, person->query_port,
                     person->lobby};
    // Only AL carries a bool; the rest of RAX is left as garbage on purpose.
    return 1;
}

const char* GetFriendPersonaNameHistory(void*, std::uint64_t id, int index) {
    log_fake_call("GetFriendPersonaNameHistory " + id_text(id) + " " + std::to_string(index));
    FakePerson* person = person_of(id);
    if (!person) return "";
    if (index >= 0 && static_cast<std::size_t>(index) < person->history.size()) {
        return c_text(person->history[static_cast<std::size_t>(index)]);
    }
    return person->history_end ? person->history_end->c_str() : "";
}

const char* GetPlayerNickname(void*, std::uint64_t id) {
    log_fake_call("GetPlayerNickname " + id_text(id));
    FakePerson* person = person_of(id);
    return person ? c_text(person->nickname) : nullptr;
}

std::uint8_t RequestUserInformation(void*, std::uint64_t id, bool name_only) {
    log_fake_call("RequestUserInformation " + id_text(id) + " " + (name_only ? "1" : "0"));
    FakePerson* person = person_of(id);
    if (!person) return 0;
    const std::string* name = current_persona(g_world, *person);
    if (name && !name->empty() && *name != kUnknown) return 0;   // nothing to fetch
    ++person->requests;
    return 1;
}

std::int32_t GetCoplayFriendCount(void*) {
    log_fake_call("GetCoplayFriendCount");
    ++g_world.coplay_reads;
    return g_world.coplay_count ? *g_world.coplay_count
                                : static_cast<std::int32_t>(g_world.coplay.size());
}

std::uint64_t coplay_at(int index) {
    log_fake_call("GetCoplayFriend " + std::to_string(index));
    if (index < 0 || static_cast<std::size_t>(index) >= g_world.coplay.size()) return 0;
    return g_world.coplay[static_cast<std::size_t>(index)];
}

#ifdef _WIN32
std::uint64_t* GetCoplayFriend(void*, std::uint64_t* result, int index) {
    *result = coplay_at(index);
    return result;
}
#else
std::uint64_t GetCoplayFriend(void*, int index) { return coplay_at(index); }
#endif

std::int32_t GetFriendCoplayTime(void*, std::uint64_t id) {
    log_fake_call("GetFriendCoplayTime " + id_text(id));
    FakePerson* person = person_of(id);
    return person ? person->coplay_time : 0;
}

std::uint32_t GetFriendCoplayGame(void*, std::uint64_t id) {
    log_fake_call("GetFriendCoplayGame " + id_text(id));
    FakePerson* person = person_of(id);
    return person ? person->coplay_appid : 0;
}

// ---- the tables ----------------------------------------------------------

template <typename Fn>
void* entry(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

std::array<void*, 32> client_table() {
    auto table = trap_table<32>();
    table[0] = entry(&CreateSteamPipe);
    table[1] = entry(&BReleaseSteamPipe);
    table[2] = entry(&ConnectToGlobalUser);
    table[4] = entry(&ReleaseUser);
    table[5] = entry(&GetISteamUser);
    table[8] = entry(&GetISteamFriends);
    return table;
}

std::array<void*, 32> user_table() {
    auto table = trap_table<32>();
    table[2] = entry(&GetSteamID);
    return table;
}

std::array<void*, 80> friends_table() {
    auto table = trap_table<80>();
    table[0] = entry(&GetPersonaName);
    table[2] = entry(&GetFriendCount);
    table[3] = entry(&GetFriendByIndex);
    table[4] = entry(&GetFriendRelationship);
    table[6] = entry(&GetFriendPersonaName);
    table[7] = entry(&GetFriendGamePlayed);
    table[8] = entry(&GetFriendPersonaNameHistory);
    table[10] = entry(&GetPlayerNickname);
    table[36] = entry(&RequestUserInformation);
    table[48] = entry(&GetCoplayFriendCount);
    table[49] = entry(&GetCoplayFriend);
    table[50] = entry(&GetFriendCoplayTime);
    table[51] = entry(&GetFriendCoplayGame);
    return table;
}

const std::array<void*, 32> g_client_table = client_table();
const std::array<void*, 32> g_user_table = user_table();
const std::array<void*, 80> g_friends_table = friends_table();

Interface g_client{g_client_table.data()};
Interface g_user{g_user_table.data()};
Interface g_friends{g_friends_table.data()};

}  // namespace

// Every call starts the world afresh from the fixture.
FAKE_EXPORT void* CreateInterface(const char* version, int* return_code) {
    std::string error;
    if (!load_fake_world(g_world, error)) {
        std::fprintf(stderr, "fake steamclient: %s\n", error.c_str());
    }
    log_fake_call(std::string("CreateInterface ") + (version ? version : "(null)"));
    const bool ok = version && g_world.offers_client && std::strcmp(version, "SteamClient023") == 0;
    if (return_code) *return_code = ok ? 0 : 1;
    return ok ? &g_client : nullptr;
}
