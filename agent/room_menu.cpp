#include "agent/room_menu.h"

#include <cstdio>
#include <optional>

#include "core/clock.h"
#include "core/text.h"
#include "rooms/room_persistence.h"

namespace {

std::wstring room_menu_label(const RoomHistoryEntry& entry) {
    std::string label;
    if (const std::optional<CivilTime> local = local_time(entry.created_at)) {
        char text[64];
        std::snprintf(text, sizeof text, "%02d.%02d %02d:%02d", local->day, local->month, local->hour,
                      local->minute);
        label = text;
    }
    if (!entry.map.empty()) {
        if (!label.empty()) label += "   ";
        label += entry.map;
    }
    if (label.empty()) label = entry.room_key.substr(0, 8);
    return utf8_to_wide(label);
}

}  // namespace

std::vector<RoomMenuItem> room_menu_items(const std::filesystem::path& folder) {
    std::vector<RoomMenuItem> items;
    for (const auto& entry : load_room_history(folder)) items.push_back({room_menu_label(entry), entry.url});
    return items;
}
