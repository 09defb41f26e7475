// The system's cryptographically strong random source (BCryptGenRandom on
// Windows, getrandom elsewhere). Used for secrets such as the GSI token.
#pragma once

#include <cstddef>

// Fills all `count` bytes; false when the source could not deliver them.
bool strong_random_bytes(unsigned char* out, std::size_t count);
