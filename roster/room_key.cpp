// The room key derivation, byte for byte as every agent of a match does it.
#include "roster/room_key.h"

#include "roster/sha256.h"

#include <algorithm>

namespace {

// The first 32 hexadecimal characters are the first 16 bytes of the digest.
constexpr std::size_t kRoomKeyLength = 32;

}  // namespace

std::string room_key_text(const std::vector<std::uint64_t>& steamids) {
    std::vector<std::string> texts;
    texts.reserve(steamids.size());
    for (std::uint64_t steamid : steamids) texts.push_back(std::to_string(steamid));
    // Byte order, not numeric order: "10" sorts before "2".
    std::sort(texts.begin(), texts.end());
    std::string joined;
    for (const std::string& text : texts) {
        if (!joined.empty()) joined += ',';
        joined += text;
    }
    return joined;
}

std::string derive_room_key(const std::vector<std::uint64_t>& steamids) {
    std::string digest = sha256_hex(room_key_text(steamids));
    if (digest.size() >= kRoomKeyLength) digest.resize(kRoomKeyLength);
    return digest;
}
