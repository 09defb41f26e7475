#include "rooms/room_creation.h"

#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/json_members.h"
#include "rooms/api_client.h"
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

}  // namespace

RoomAnswer read_room_answer(std::string_view body) {
    RoomAnswer read;
    const json answer = json::parse(body, nullptr, false);
    read.url = json_string(answer, "url").value_or("");
    read.created = json_bool(answer, "created").value_or(false);
    return read;
}

std::string build_room_payload(const Roster& roster, std::uint64_t reporter_steamid, std::string_view map) {
    return room_request_json(room_request_of(roster, reporter_steamid, map));
}

std::uint32_t room_retry_delay_ms(std::int32_t attempt) {
    switch (attempt) {
        case 1: return 2000;
        case 2: return 5000;
        case 3: return 15000;
        case 4: return 60000;
        default: return 0;
    }
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

    std::uint32_t status = 0;
    std::string body;
    std::string error;
    const bool exchanged = api_post(client, "/v1/matches", room.payload, status, body, error);
    const PostOutcome outcome = classify(exchanged, status);

    if (outcome != PostOutcome::success) {
        const std::string failure = exchanged ? "HTTP " + std::to_string(status) : error;
        const std::string& detail = exchanged ? body : error;
        const std::uint32_t delay = room_retry_delay_ms(n);
        if (outcome == PostOutcome::temporary && delay != 0) {
            // Read after the exchange, which may have taken its time-outs.
            room.next_try = options.tick() + delay;
            log_event(log, "room_post_failed",
                      json{{"room_key", room.key}, {"status", status}, {"detail", detail},
                           {"attempt", n}, {"retry_in_ms", delay}},
                      "room POST failed (" + failure + "), retrying in " + std::to_string(delay / 1000) +
                          "s");
            return;
        }
        room.done = true;
        log_event(log, "room_post_failed",
                  json{{"room_key", room.key}, {"status", status}, {"detail", detail}, {"attempts", n},
                       {"permanent", outcome == PostOutcome::permanent}},
                  "room POST failed (" + failure + "), giving up");
        return;
    }

    const auto [url, created] = read_room_answer(body);
    room.done = true;
    room.url = url;
    save_room_in(log, options.data_folder, room.key, url, room.reservation, room.map);
    write_room_cfg(log, cfg_folder, url);
    log_event(log, "room_created",
              json{{"room_key", room.key}, {"url", url}, {"created", created}, {"status", status}},
              std::string("ROOM ") + (created ? "CREATED" : "JOINED") + "  " + url);
}
