// room.json and rooms.json as a damaged or foreign disk may hold them (the
// input cut at the first NUL: rooms.json, then room.json): the history, the
// tray menu built from it, the saved room for a reservation, and a new room
// added in front.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/room_menu.h"
#include "fuzz/fuzz_support.h"
#include "rooms/room_persistence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& folder = fuzz_scratch_folder();
    const std::vector<std::string_view> parts = fuzz_split(data, size, '\0', 2);
    fuzz_put_file(folder / "rooms.json", &parts[0]);
    fuzz_put_file(folder / "room.json", parts.size() > 1 ? &parts[1] : nullptr);

    for (const RoomHistoryEntry& entry : load_room_history(folder))
        if (entry.url.empty()) std::abort();
    room_menu_items(folder);
    for (const char* reservation : {"", "1:2:3:4", "0"}) {
        if (const auto url = find_saved_room_in(folder, reservation))
            if (url->empty()) std::abort();
    }

    const RoomHistoryEntry fresh{1733519400, "de_mirage", "4f1c0de5", "https://vantor.gg/r/4f1c0de5"};
    if (add_room_to_history(folder, fresh)) {
        const std::vector<RoomHistoryEntry> history = load_room_history(folder);
        if (history.empty() || history.size() > kRoomHistorySize || history.front().url != fresh.url) std::abort();
    }
    return 0;
}
