#include "agent/notification.h"

RoomNotice room_ready_notice(std::string_view url, std::string_view map, bool copied) {
    RoomNotice notice;
    notice.title = copied ? "Room ready -- link copied" : "Room ready";
    notice.text = map.empty() ? std::string(url) : std::string(map) + "\n" + std::string(url);
    notice.url = std::string(url);
    return notice;
}
