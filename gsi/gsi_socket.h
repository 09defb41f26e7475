// The few socket calls the GSI listener makes, one implementation per platform
// (gsi_socket_win32.cpp: Winsock; gsi_socket_posix.cpp: BSD sockets). Every
// socket is non-blocking: one worker waits on all of them at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "gsi/gsi_listener.h"

// Starts Winsock 2.2 (nothing to do on POSIX). False on failure.
bool net_startup();
void net_cleanup();

// A non-blocking IPv4 TCP stream socket, or kNoSocket.
NetSocket net_tcp_socket();
bool net_bind_loopback(NetSocket s, std::uint16_t port);
bool net_listen(NetSocket s, int backlog);
// The local port the socket is bound to, 0 when unknown.
std::uint16_t net_local_port(NetSocket s);

// A waiting connection, non-blocking, or kNoSocket when none is waiting (or
// accepting failed).
NetSocket net_accept(NetSocket listener);

// One socket to wait on; `ready` tells it can be read (or accepted on, or was
// closed or failed) without blocking.
struct NetWaitEntry {
    NetSocket socket = kNoSocket;
    bool ready = false;
};
// Waits at most `ms` (kNetWaitForever: with no limit) for any entry to become
// ready and marks those that are. False when waiting failed; an empty list
// just sleeps.
inline constexpr std::uint32_t kNetWaitForever = UINT32_MAX;
bool net_wait_readable(std::vector<NetWaitEntry>& entries, std::uint32_t ms);

// The worker's wake-up (see NetWake); false when it cannot be made. Once
// raised it stays readable until closed.
bool net_wake_open(NetWake& wake);
void net_wake_raise(const NetWake& wake);
void net_wake_close(NetWake& wake);

enum class NetRead {
    data,         // `got` bytes were read
    nothing_yet,  // nothing to read now
    closed,       // the peer closed, or the connection failed
};
NetRead net_recv(NetSocket s, char* buffer, std::size_t size, std::size_t& got);

// All of `bytes`, retrying partial sends; false on failure, or when the send
// buffer is full (a fresh connection always takes the short reply).
bool net_send_all(NetSocket s, std::string_view bytes);

// Closes a served connection, after telling the peer no more data follows.
void net_close_connection(NetSocket s);
// Closes the listening socket.
void net_close_listener(NetSocket s);
