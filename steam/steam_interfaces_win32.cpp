// Slots that return a SteamID from the Windows client, built with MSVC: the
// result comes back through a pointer passed right after `this`.
#include "steam/steam_interfaces.h"

std::uint64_t call_id_slot(void* iface, int position) {
    using Fn = std::uint64_t* (*)(void*, std::uint64_t*);
    std::uint64_t id = 0;
    interface_slot<Fn>(iface, position)(iface, &id);
    return id;
}
std::uint64_t call_id_slot(void* iface, int position, int a) {
    using Fn = std::uint64_t* (*)(void*, std::uint64_t*, int);
    std::uint64_t id = 0;
    interface_slot<Fn>(iface, position)(iface, &id, a);
    return id;
}
std::uint64_t call_id_slot(void* iface, int position, int a, int b) {
    using Fn = std::uint64_t* (*)(void*, std::uint64_t*, int, int);
    std::uint64_t id = 0;
    interface_slot<Fn>(iface, position)(iface, &id, a, b);
    return id;
}
