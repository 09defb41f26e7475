// The body of POST /v1/matches: one definition for the agent, which builds it
// from its final roster, and for the room service, which reads and checks it.
// Compact JSON, keys in byte order ("map", "members", "reporter_steamid64",
// "reservation", "room_key", "steamids"), SteamID64s as decimal strings, names
// as UTF-8. A reader ignores keys it does not know and never requires "map".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Roster;

struct RoomMember {
    std::int32_t group = 0;     // 1 or 2 for the halves of a fully matched block, else 0
    std::string name;
    std::string source;         // how the reporting agent resolved the player
    std::uint64_t steamid = 0;
    std::string team;           // "CT", "T" or empty
};

struct RoomRequest {
    std::string map;                     // empty when GSI reported none
    std::vector<RoomMember> members;     // in roster order
    std::uint64_t reporter = 0;          // "reporter_steamid64"
    std::string reservation;
    std::string room_key;
    std::vector<std::uint64_t> steamids; // ascending by decimal text
};

inline constexpr std::size_t kMaxRoomRequestBytes = std::size_t{64} * 1024;
inline constexpr std::size_t kMaxMemberNameBytes = 128;
inline constexpr std::size_t kRoomSize = 10;

// What the agent sends for a final roster.
RoomRequest room_request_of(const Roster& roster, std::uint64_t reporter, std::string_view map);

// The body text: compact, keys in byte order; bytes of a name that are not
// UTF-8 are replaced.
std::string room_request_json(const RoomRequest& request);

// Reads and checks a body as the room service must before it trusts it: size,
// JSON object, ten distinct real players' SteamID64s in the order the agent
// sends them, the room key derived from them, a reporter among them, members
// that are exactly the ten with names of UTF-8 up to 128 bytes and teams "CT",
// "T" or empty. `error` says why a body is refused (for the 400 answer).
struct RoomRequestRead {
    bool ok = false;
    RoomRequest request;
    std::string error;
};
RoomRequestRead read_room_request(std::string_view body);
