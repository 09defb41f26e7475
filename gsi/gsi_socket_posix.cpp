// BSD sockets for the GSI listener.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "gsi/gsi_socket.h"

namespace {
int fd_of(NetSocket s) { return static_cast<int>(s); }
}  // namespace

bool net_startup() { return true; }
void net_cleanup() {}

NetSocket net_tcp_socket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    // Connections we closed linger in TIME_WAIT on our port; without this an
    // agent restarted within a minute could not listen again. A second live
    // listener on the port is still refused.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return static_cast<NetSocket>(fd);
}

bool net_bind_loopback(NetSocket s, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::bind(fd_of(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool net_listen(NetSocket s, int backlog) { return ::listen(fd_of(s), backlog) == 0; }

std::uint16_t net_local_port(NetSocket s) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd_of(s), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

NetSocket net_accept(NetSocket listener) {
    int fd;
    do {
        fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoSocket : static_cast<NetSocket>(fd);
}

void net_set_recv_timeout(NetSocket s, std::uint32_t ms) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(ms / 1000);
    limit.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    ::setsockopt(fd_of(s), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

std::size_t net_recv(NetSocket s, char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = ::recv(fd_of(s), buffer, size, 0);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

bool net_send_all(NetSocket s, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd_of(s), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void net_close_connection(NetSocket s) {
    ::shutdown(fd_of(s), SHUT_WR);
    ::close(fd_of(s));
}

void net_close_listener(NetSocket s) {
    // close() alone does not wake a thread blocked in accept() on Linux;
    // shutdown() does.
    ::shutdown(fd_of(s), SHUT_RDWR);
    ::close(fd_of(s));
}
