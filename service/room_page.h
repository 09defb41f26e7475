// The room page (server-rendered HTML that works without JavaScript), its
// 404 page and the JSON the page's script polls. Player names are hostile
// input: all text is escaped and every name is isolated from its neighbours'
// writing direction.
#pragma once

#include <string>
#include <string_view>

#include "service/store.h"

std::string html_escape(std::string_view text);

// "7 of 10 here": reporters among the ten.
std::string here_text(const StoredRoom& room);

std::string room_page_html(const StoredRoom& room);
std::string missing_room_html();

// GET /v1/rooms/<key>: the room as the page's script reads it.
std::string room_state_json(const StoredRoom& room);
