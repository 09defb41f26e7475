// CS2's Steam application id: what the library folders, the co-play list and
// a friend's running game name it by.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kCs2AppId = 730;
