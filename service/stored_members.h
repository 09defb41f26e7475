// How a room's roster is kept in a database column, whichever engine holds it:
// a compact JSON array of [steamid, name, team, group, source] rows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rooms/room_request.h"

std::string stored_members_text(const std::vector<RoomMember>& members);

// Appends the well-formed rows of `text` to `members`; false when the text is
// not an array or any row is malformed (a row edited by hand must not throw).
bool read_stored_members(std::string_view text, std::vector<RoomMember>& members);
