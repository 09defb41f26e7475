// The room key derivation, byte for byte as every agent of a match does it.
#include "roster/room_key.h"

#include <algorithm>

namespace {

// The first 32 hexadecimal characters are the first 16 bytes of the digest.
constexpr std::size_t kRoomKeyLength = 32;

}  // namespace

std::string hex_lower(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

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
