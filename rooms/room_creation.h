// Reporting a final roster to the room API: the request body, one attempt per
// call with the 2/5/15/60 s retry schedule, and on success the room link saved
// and put into the match record.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"

struct ApiClient;
struct EventLog;
struct MatchState;
struct Roster;

inline constexpr std::int32_t kMaxRoomPostAttempts = 5;

// The body of POST /v1/matches: compact JSON, keys in byte order, SteamID64s as
// decimal strings, names as UTF-8 (bytes that are not UTF-8 are replaced).
std::string build_room_payload(const Roster& roster, std::uint64_t reporter_steamid);

// "url" and "created" of a success answer. A body that is not a JSON object,
// or members of another type, count as missing: success without a link.
struct RoomAnswer {
    std::string url;
    bool created = false;
};
RoomAnswer read_room_answer(std::string_view body);

// Milliseconds to wait after the failed attempt number `attempt` (1 to 4);
// 0 when no further attempt follows.
std::uint32_t room_retry_delay_ms(std::int32_t attempt);

// Readies the match record for posting: the body built, attempt 0, due now.
void arm_room_post(MatchState& match, const Roster& roster, std::uint64_t reporter_steamid,
                   std::uint32_t now);

// There is a body, no decision yet, and `now` has reached next_try (a signed
// 32-bit difference, so the tick-count wrap does not matter).
bool room_post_due(const MatchState& match, std::uint32_t now);

// Where an attempt reads the time and keeps the room files; the defaults are
// the system tick count and the agent data folder.
struct RoomPostOptions {
    std::uint32_t (*tick)() = tick_now;
    std::optional<std::filesystem::path> data_folder;
};

// One attempt: POSTs match.payload and updates attempt, next_try, done and, on
// success, room_url; saves the room and writes the room cfg into cfg_folder
// (none when it is empty). 4xx answers are final, other failures are retried.
void post_room(EventLog& log, const ApiClient& client, MatchState& match,
               const std::filesystem::path& cfg_folder, const RoomPostOptions& options = {});
