// Winsock for the GSI listener.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "gsi/gsi_socket.h"

namespace {
SOCKET handle_of(NetSocket s) { return static_cast<SOCKET>(s); }

bool set_nonblocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

// Not inherited by processes the agent starts (the browser, for one), and
// non-blocking; closed when either cannot be set.
NetSocket prepared(SOCKET s) {
    if (s == INVALID_SOCKET) return kNoSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (!set_nonblocking(s)) {
        ::closesocket(s);
        return kNoSocket;
    }
    return static_cast<NetSocket>(s);
}

}  // namespace

bool net_startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void net_cleanup() { WSACleanup(); }

NetSocket net_tcp_socket() { return prepared(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

bool net_bind_loopback(NetSocket s, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::bind(handle_of(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool net_listen(NetSocket s, int backlog) { return ::listen(handle_of(s), backlog) == 0; }

std::uint16_t net_local_port(NetSocket s) {
    sockaddr_in address{};
    int size = sizeof address;
    if (::getsockname(handle_of(s), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

NetSocket net_accept(NetSocket listener) {
    // Accepted sockets take the listener's mode; said again to be sure.
    return prepared(::accept(handle_of(listener), nullptr, nullptr));
}

bool net_wait_readable(std::vector<NetWaitEntry>& entries, std::uint32_t ms) {
    if (entries.empty()) {
        Sleep(ms);  // WSAPoll refuses an empty set
        return true;
    }
    std::vector<WSAPOLLFD> fds(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        fds[i].fd = handle_of(entries[i].socket);
        fds[i].events = POLLRDNORM;
        fds[i].revents = 0;
    }
    const INT timeout = ms == kNetWaitForever ? -1 : static_cast<INT>(ms < 0x7fffffffu ? ms : 0x7fffffffu);
    if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout) == SOCKET_ERROR)
        return false;
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i].ready = fds[i].revents != 0;
    return true;
}

bool net_wake_open(NetWake& wake) {
    const NetSocket s = prepared(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (s == kNoSocket) return false;
    // Connected to its own address: a datagram from anyone else is dropped.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    sockaddr* const named = reinterpret_cast<sockaddr*>(&address);
    if (::bind(handle_of(s), named, size) != 0 || ::getsockname(handle_of(s), named, &size) != 0 ||
        ::connect(handle_of(s), named, size) != 0) {
        ::closesocket(handle_of(s));
        return false;
    }
    wake.waited = s;
    wake.raised = s;
    return true;
}

void net_wake_raise(const NetWake& wake) {
    const char byte = 1;
    ::send(handle_of(wake.raised), &byte, 1, 0);
}

void net_wake_close(NetWake& wake) {
    ::closesocket(handle_of(wake.waited));
    wake = NetWake{};
}

NetRead net_recv(NetSocket s, char* buffer, std::size_t size, std::size_t& got) {
    int n = ::recv(handle_of(s), buffer, static_cast<int>(size), 0);
    if (n > 0) {
        got = static_cast<std::size_t>(n);
        return NetRead::data;
    }
    got = 0;
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return NetRead::nothing_yet;
    return NetRead::closed;
}

bool net_send_all(NetSocket s, std::string_view bytes) {
    while (!bytes.empty()) {
        int chunk = bytes.size() > 65536 ? 65536 : static_cast<int>(bytes.size());
        int sent = ::send(handle_of(s), bytes.data(), chunk, 0);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void net_close_connection(NetSocket s) {
    ::shutdown(handle_of(s), SD_SEND);
    ::closesocket(handle_of(s));
}

void net_close_listener(NetSocket s) { ::closesocket(handle_of(s)); }
