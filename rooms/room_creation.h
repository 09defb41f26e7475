// Reporting a final roster to the room API: the request body, one attempt per
// call with the 2/5/15/60 s retry schedule, and on success the room link saved
// and put into the match record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/clock.h"

struct ApiClient;
struct EventLog;
struct Roster;

// The room of a match's final roster, as room creation sees it: what the
// saved room records, the request body and where its attempts stand.
struct RoomPost {
    std::string key;              // the room key of the final roster
    std::string reservation;      // of the final roster
    std::string map;              // GSI map when the match started
    std::string payload;          // request body waiting to be POSTed
    std::int32_t attempt = 0;     // POST attempts started
    std::uint32_t next_try = 0;   // tick count of the next attempt
    bool done = false;            // no further POST attempt
    std::string url;              // the room link once there is one
};

inline constexpr std::int32_t kMaxRoomPostAttempts = 5;

// How much of an answer's body an error record quotes.
inline constexpr std::size_t kQuotedBodyBytes = 200;

// The body of POST /v1/matches (rooms/room_request.h) for a final roster and
// the map GSI reported for the match.
std::string build_room_payload(const Roster& roster, std::uint64_t reporter_steamid, std::string_view map);

// "url" and "created" of a success answer. The link is checked here, where
// it comes in: a body that is not a JSON object, a "url" that is missing, not
// a string or not a room link (room_link_problem) leaves `url` empty and says
// why in `problem`. A "created" of another type reads as false.
struct RoomAnswer {
    std::string url;
    bool created = false;
    std::string problem;          // empty when url is a room link
};
RoomAnswer read_room_answer(std::string_view body);

// Milliseconds to wait after the failed attempt number `attempt` (1 to 4);
// 0 when no further attempt follows.
std::uint32_t room_retry_delay_ms(std::int32_t attempt);

// Readies the room for posting: the body built (with room.map), attempt 0, due now.
void arm_room_post(RoomPost& room, const Roster& roster, std::uint64_t reporter_steamid,
                   std::uint32_t now);

// There is a body, no decision yet, and `now` has reached next_try (a signed
// 32-bit difference, so the tick-count wrap does not matter).
bool room_post_due(const RoomPost& room, std::uint32_t now);

// Where an attempt keeps the room files and reads the time (the system tick
// count unless a test or benchmark simulates it).
struct RoomPostOptions {
    std::filesystem::path data_folder;
    std::uint32_t (*tick)() = tick_now;
};

// One attempt: POSTs room.payload and updates attempt, next_try, done and, on
// success, url; saves the room in the data folder and writes the room cfg into
// cfg_folder (none when it is empty). 4xx answers are final, other failures
// are retried; so is a 2xx answer without a usable link. An attempt the stop
// flag cut short is not counted as a failure.
void post_room(EventLog& log, const ApiClient& client, RoomPost& room,
               const std::filesystem::path& cfg_folder, const RoomPostOptions& options);
