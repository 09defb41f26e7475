// TCP port numbers as the agent takes them from the command line, agent.json
// and URLs: 1 to 65535.
#pragma once

#include <cstdint>

inline constexpr std::int64_t kMaxPort = 65535;

constexpr bool port_in_range(std::int64_t port) { return port >= 1 && port <= kMaxPort; }
