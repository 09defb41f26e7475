// The few socket calls the GSI listener makes, one implementation per platform
// (gsi_socket_win32.cpp: Winsock; gsi_socket_posix.cpp: BSD sockets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gsi/gsi_listener.h"

// Starts Winsock 2.2 (nothing to do on POSIX). False on failure.
bool net_startup();
void net_cleanup();

// An IPv4 TCP stream socket, or kNoSocket.
NetSocket net_tcp_socket();
bool net_bind_loopback(NetSocket s, std::uint16_t port);
bool net_listen(NetSocket s, int backlog);
// The local port the socket is bound to, 0 when unknown.
std::uint16_t net_local_port(NetSocket s);

// Blocks until a connection arrives; kNoSocket on failure (including the
// listening socket being closed by net_close_listener).
NetSocket net_accept(NetSocket listener);

// Sets the receive time-out for the following reads.
void net_set_recv_timeout(NetSocket s, std::uint32_t ms);
// Up to `size` bytes; the count, or 0 when the peer closed, timed out or failed.
std::size_t net_recv(NetSocket s, char* buffer, std::size_t size);
// All of `bytes`, retrying partial sends; false on failure.
bool net_send_all(NetSocket s, std::string_view bytes);

// Closes a served connection, after telling the peer no more data follows.
void net_close_connection(NetSocket s);
// Closes the listening socket so that a thread blocked in net_accept returns.
void net_close_listener(NetSocket s);
