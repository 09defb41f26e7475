// The body of POST /v1/matches as the room service reads it: whatever
// arrives, a body that is accepted holds ten distinct real players whose key
// is the room key, a reporter among them and names within the limits, and
// the agent's own serialisation of it is accepted again unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/steamid.h"
#include "rooms/room_request.h"
#include "roster/room_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const RoomRequestRead read = read_room_request(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.ok) {
        if (read.error.empty()) std::abort();
        return 0;
    }
    const RoomRequest& r = read.request;
    if (r.steamids.size() != kRoomSize || r.members.size() != kRoomSize) std::abort();
    if (r.room_key != derive_room_key(r.steamids)) std::abort();
    if (std::find(r.steamids.begin(), r.steamids.end(), r.reporter) == r.steamids.end()) std::abort();
    for (const RoomMember& m : r.members) {
        if (!steamid_real_player(m.steamid) || m.name.size() > kMaxMemberNameBytes) std::abort();
        if (m.team != "CT" && m.team != "T" && !m.team.empty()) std::abort();
    }
    const RoomRequestRead again = read_room_request(room_request_json(r));
    if (!again.ok || again.request.room_key != r.room_key || again.request.members.size() != kRoomSize ||
        again.request.map != r.map || again.request.members[0].name != r.members[0].name)
        std::abort();
    return 0;
}
