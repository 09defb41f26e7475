// Status block summaries and JSON dumps.
#include "console/status_summary.h"

#include <optional>

#include "console/status_parser.h"
#include "core/text.h"

std::string status_summary(const StatusBlock& block) {
    std::string text = "status " + block.log_time + ": " + std::to_string(block.players.size()) +
                       " connected";
    if (block.pending_slots > 0) text += " +" + std::to_string(block.pending_slots) + " pending";
    if (block.bot_slots > 0) text += " +" + std::to_string(block.bot_slots) + " bots";
    text += " (humans=" + std::to_string(block.humans) + ")";
    if (!block.reservation.empty()) text += " reservation=" + block.reservation;
    if (const std::optional<StatusPlayer> self = self_player(block)) {
        text += " self='" + self->name + "'";
    }
    text += "\n    ";
    for (std::size_t i = 0; i < block.players.size(); ++i) {
        if (i > 0) text += ", ";
        text += "'" + block.players[i].name + "'";
    }
    return text;
}

// Console text is not guaranteed to be UTF-8; JSON text must be, or writing
// the object out would fail.
nlohmann::json status_json(const StatusBlock& block) {
    nlohmann::json players = nlohmann::json::array();
    for (const StatusPlayer& player : block.players) {
        players.push_back({
            {"id", player.id},
            {"name", valid_utf8(player.name)},
            {"state", valid_utf8(player.state)},
            {"time", valid_utf8(player.time)},
            {"ping", player.ping},
            {"loss", player.loss},
            {"rate", player.rate},
            {"address", valid_utf8(player.address)},
        });
    }
    nlohmann::json json = {
        {"log_time", valid_utf8(block.log_time)},
        {"humans", block.humans},
        {"bots", block.bots},
        {"max_players", block.max_players},
        {"hibernating", block.hibernating},
        {"reservation", valid_utf8(block.reservation)},
        {"version", valid_utf8(block.version)},
        {"server_steamid", valid_utf8(block.server_steamid)},
        {"connected_to", valid_utf8(block.connected_to)},
        {"server_note", valid_utf8(block.server_note)},
        {"pending_slots", block.pending_slots},
        {"bot_slots", block.bot_slots},
        {"rows_seen", block.rows_seen},
        {"players", std::move(players)},
    };
    if (block.source_slot) json["source_slot"] = *block.source_slot;
    if (const std::optional<StatusPlayer> self = self_player(block)) {
        json["self_name"] = valid_utf8(self->name);
    }
    return json;
}
