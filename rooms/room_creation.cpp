#include "rooms/room_creation.h"

#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/json_members.h"
#include "rooms/api_client.h"
#include "rooms/room_link.h"
#include "rooms/room_persistence.h"
#include "rooms/room_request.h"
#include "roster/roster_assembly.h"

namespace {

using nlohmann::json;

enum class PostOutcome { success, permanent, temporary };

PostOutcome classify(bool exchanged, std::uint32_t status) {
    if (!exchanged) return PostOutcome::temporary;
    if (status >= 200 && status <= 299) return PostOutcome::success;
    if (status >= 400 && status <= 499) return PostOutcome::permanent;
    return PostOutcome::temporary;
}

// At most kQuotedBodyBytes of a body, with its full size when it is longer.
std::string quoted_body(std::string_view body) {
    if (body.size() <= kQuotedBodyBytes) return std::string(body);
    return std::string(body.substr(0, kQuotedBodyBytes)) + "... (" + std::to_string(body.size()) + " bytes)";
}

}  // namespace

RoomAnswer read_room_answer(std::string_view body) {
    RoomAnswer read;
    const json answer = json::parse(body, nullptr, false);
    if (!answer.is_object()) {
        read.problem = answer.is_discarded() ? "the answer is not JSON" : "the answer is not a JSON object";
        return read;
    }
    read.created = json_bool(answer, "created").value_or(false);
    if (!json_member(answer, "url")) {
        read.problem = "the answer has no \"url\"";
        return read;
    }
    const std::optional<std::string> url = json_string(answer, "url");
    if (!url) {
        read.problem = "the answer's \"url\" is not a string";
        return read;
    }
    read.problem = room_link_problem(*url);
    if (read.problem.empty()) read.url = *url;
    return read;
}

std::string build_room_payload(const Roster& roster, std::uint64_t reporter_steamid, std::string_view map) {
    return room_request_json(room_request_of(roster, reporter_steamid, map));
}

std::uint32_t room_retry_delay_ms(std::int32_t attempt) {
    // The waits after each attempt but the last.
    static constexpr std::uint32_t kDelaysMs[kMaxRoomPostAttempts - 1] = {2000, 5000, 15000, 60000};
    if (attempt < 1 || attempt >= kMaxRoomPostAttempts) return 0;
    return kDelaysMs[attempt - 1];
}

void arm_room_post(RoomPost& room, const Roster& roster, std::uint64_t reporter_steamid,
                   std::uint32_t now) {
    room.payload = build_room_payload(roster, reporter_steamid, room.map);
    room.attempt = 0;
    room.next_try = now;
    room.done = false;
}

bool room_post_due(const RoomPost& room, std::uint32_t now) {
    return !room.payload.empty() && !room.done && static_cast<std::int32_t>(now - room.next_try) >= 0;
}

void post_room(EventLog& log, const ApiClient& client, RoomPost& room,
               const std::filesystem::path& cfg_folder, const RoomPostOptions& options) {
    const std::int32_t n = ++room.attempt;
    log_event(log, "room_post", json{{"room_key", room.key}, {"attempt", n}},
              "posting room " + room.key + " (attempt " + std::to_string(n) + ")");

    const ApiResponse answer = api_post(client, "/v1/matches", room.payload);
    if (answer.stopped) {
        // The run is ending: no retry is scheduled, no failure is counted.
        log_event(log, "room_post_failed",
                  json{{"room_key", room.key}, {"status", answer.status}, {"detail", answer.error},
                       {"attempt", n}, {"stopped", true}},
                  "room POST cut short: the agent is stopping");
        return;
    }
    PostOutcome outcome = classify(answer.ok, answer.status);
    RoomAnswer read;
    if (outcome == PostOutcome::success) {
        read = read_room_answer(answer.body);
        // A success without a usable link answers nobody: try again.
        if (!read.problem.empty()) outcome = PostOutcome::temporary;
    }

    if (outcome != PostOutcome::success) {
        std::string failure = answer.ok ? "HTTP " + std::to_string(answer.status) : answer.error;
        if (!read.problem.empty()) failure += " without a usable room link: " + read.problem;
        const std::string detail = answer.ok ? quoted_body(answer.body) : answer.error;
        json data{{"room_key", room.key}, {"status", answer.status}, {"detail", detail}};
        if (!read.problem.empty()) data["reason"] = read.problem;
        const std::uint32_t delay = room_retry_delay_ms(n);
        if (outcome == PostOutcome::temporary && delay != 0) {
            // Read after the exchange, which may have taken its time-outs.
            room.next_try = options.tick() + delay;
            data["attempt"] = n;
            data["retry_in_ms"] = delay;
            log_event(log, "room_post_failed", data,
                      "room POST failed (" + failure + "), retrying in " + std::to_string(delay / 1000) +
                          "s");
            return;
        }
        room.done = true;
        data["attempts"] = n;
        data["permanent"] = outcome == PostOutcome::permanent;
        log_event(log, "room_post_failed", data, "room POST failed (" + failure + "), giving up");
        return;
    }

    room.done = true;
    room.url = read.url;
    save_room_in(log, options.data_folder, room.key, read.url, room.reservation, room.map);
    write_room_cfg(log, cfg_folder, read.url);
    log_event(log, "room_created",
              json{{"room_key", room.key}, {"url", read.url}, {"created", read.created},
                   {"status", answer.status}},
              std::string("ROOM ") + (read.created ? "CREATED" : "JOINED") + "  " + read.url);
}
