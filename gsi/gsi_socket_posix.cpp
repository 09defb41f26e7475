// BSD sockets for the GSI listener.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "gsi/gsi_socket.h"

namespace {
int fd_of(NetSocket s) { return static_cast<int>(s); }
}  // namespace

bool net_startup() { return true; }
void net_cleanup() {}

NetSocket net_tcp_socket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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
        fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoSocket : static_cast<NetSocket>(fd);
}

bool net_wait_readable(std::vector<NetWaitEntry>& entries, std::uint32_t ms) {
    if (entries.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    std::vector<pollfd> fds(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        fds[i] = pollfd{fd_of(entries[i].socket), POLLIN, 0};
    const int timeout = ms == kNetWaitForever ? -1 : static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX));
    const int got = ::poll(fds.data(), fds.size(), timeout);
    if (got < 0) return errno == EINTR;
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i].ready = fds[i].revents != 0;
    return true;
}

bool net_wake_open(NetWake& wake) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wake.waited = static_cast<NetSocket>(ends[0]);
    wake.raised = static_cast<NetSocket>(ends[1]);
    return true;
}

void net_wake_raise(const NetWake& wake) {
    const char byte = 1;
    // A full pipe is readable already, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(fd_of(wake.raised), &byte, 1);
}

void net_wake_close(NetWake& wake) {
    ::close(fd_of(wake.waited));
    ::close(fd_of(wake.raised));
    wake = NetWake{};
}

NetRead net_recv(NetSocket s, char* buffer, std::size_t size, std::size_t& got) {
    ssize_t n;
    do {
        n = ::recv(fd_of(s), buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        got = static_cast<std::size_t>(n);
        return NetRead::data;
    }
    got = 0;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return NetRead::nothing_yet;
    return NetRead::closed;
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
    ::shutdown(fd_of(s), SHUT_RDWR);
    ::close(fd_of(s));
}
