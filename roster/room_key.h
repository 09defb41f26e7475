// The room key: every agent of a match derives the same 32 hexadecimal
// characters from the set of its ten SteamID64s, whatever their order and
// whoever reports. The derivation is a contract between implementations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The decimal texts sorted as byte strings, joined with ",", hashed with
// SHA-256; the first 32 hexadecimal characters. Empty when hashing fails.
std::string derive_room_key(const std::vector<std::uint64_t>& steamids);

// The joined text that derive_room_key hashes (for logs and tests).
std::string room_key_text(const std::vector<std::uint64_t>& steamids);
