// Slots that return a SteamID from the Linux client, built with GCC: the
// 8-byte class comes back in RAX.
#include "steam/steam_interfaces.h"

std::uint64_t call_id_slot(void* iface, int position) {
    return interface_slot<std::uint64_t (*)(void*)>(iface, position)(iface);
}
std::uint64_t call_id_slot(void* iface, int position, int a) {
    return interface_slot<std::uint64_t (*)(void*, int)>(iface, position)(iface, a);
}
std::uint64_t call_id_slot(void* iface, int position, int a, int b) {
    return interface_slot<std::uint64_t (*)(void*, int, int)>(iface, position)(iface, a, b);
}
