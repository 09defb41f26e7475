// The fake Steam client's world, read from the JSON fixture named by the
// environment variable FAKE_STEAMCLIENT_FIXTURE (format: README.md).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct FakePerson {
    std::optional<std::string> persona;       // null: GetFriendPersonaName returns null
    std::optional<std::string> resolves_to;   // the name that arrives later
    int after_requests = 0;                   // ... after this many RequestUserInformation
    int after_reads = 0;                      // ... or this many co-play list reads
    int requests = 0;                         // RequestUserInformation calls so far
    std::optional<std::string> nickname;
    std::vector<std::optional<std::string>> history;
    std::optional<std::string> history_end;   // returned past the history's end
    int relationship = 0;
    bool in_game = false;
    std::uint64_t game_id = 0;
    std::uint32_t server_ip = 0;
    std::uint16_t game_port = 0;
    std::uint16_t query_port = 0;
    std::uint64_t lobby = 0;
    std::uint32_t coplay_appid = 0;
    std::int32_t coplay_time = 0;
};

struct FakeWorld {
    bool logged_in = true;
    bool pipe_ok = true;
    bool offers_client = true;
    bool offers_friends = true;
    bool offers_user = true;
    std::uint64_t self_steamid = 76561197960287930ull;
    std::optional<std::string> self_persona = std::string("fake user");
    std::vector<std::uint64_t> coplay;        // index order, invalid ids included
    std::vector<std::uint64_t> friends;
    std::optional<int> coplay_count;          // overrides the list's size
    std::optional<int> friend_count;
    std::map<std::uint64_t, FakePerson> people;
    int coplay_reads = 0;                     // GetCoplayFriendCount calls
};

// Reads the fixture (defaults when the variable is unset); false and a reason
// when the file cannot be read or parsed.
bool load_fake_world(FakeWorld& world, std::string& error);

// The name GetFriendPersonaName returns now (null allowed).
const std::string* current_persona(const FakeWorld& world, const FakePerson& person);

// Appends one line to the file named by FAKE_STEAMCLIENT_CALLS, if set.
void log_fake_call(const std::string& line);
