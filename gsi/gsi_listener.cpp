// The portable part of the GSI listener: request parsing, serving one
// connection, the accept loop, start, drain and stop. The socket calls
// themselves are in the _win32 / _posix twins behind gsi/gsi_socket.h.
#include "gsi/gsi_listener.h"

#include "core/text.h"

#include <algorithm>
#include <chrono>

#include "core/port_range.h"
#include "gsi/gsi_socket.h"

std::size_t gsi_find_head_end(std::string_view request, std::size_t from) {
    if (request.size() < 4) return std::string_view::npos;
    return request.find("\r\n\r\n", std::min(from, request.size()));
}

std::optional<std::size_t> gsi_content_length(std::string_view head) {
    constexpr std::string_view kName = "content-length:";
    if (head.size() < kName.size()) return std::nullopt;
    const std::string lower = ascii_lower(head);
    std::size_t at = lower.find(kName);
    if (at == std::string::npos) return std::nullopt;
    at += kName.size();
    while (at < lower.size() && (lower[at] == ' ' || lower[at] == '\t')) ++at;
    std::size_t value = 0;
    bool digits = false;
    for (; at < lower.size() && lower[at] >= '0' && lower[at] <= '9'; ++at) {
        value = value * 10 + static_cast<std::size_t>(lower[at] - '0');
        if (value > kGsiMaxContentLength) return std::nullopt;
        digits = true;
    }
    if (!digits) return std::nullopt;
    return value;
}

namespace {

using Clock = std::chrono::steady_clock;

// Appends what the next recv brings. False when the client closed, stayed
// silent for the per-read time-out, ran past the connection's deadline or
// made the request too long: the caller gives up on it.
bool read_more(NetSocket s, std::string& request, Clock::time_point deadline) {
    auto now = Clock::now();
    if (now >= deadline) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    std::uint32_t wait = kGsiRecvTimeoutMs;
    if (left < static_cast<long long>(wait)) wait = static_cast<std::uint32_t>(std::max<long long>(left, 1));
    net_set_recv_timeout(s, wait);

    char buffer[kGsiRecvChunk];
    std::size_t got = net_recv(s, buffer, sizeof buffer);
    if (got == 0) return false;
    request.append(buffer, got);
    return request.size() <= kGsiMaxRequest;
}

void serve_connection(GsiListener& listener, NetSocket s) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(listener.connection_deadline_ms);
    std::string request;
    std::size_t head_end = std::string::npos;
    while (head_end == std::string::npos) {
        std::size_t searched = request.size() >= 3 ? request.size() - 3 : 0;
        if (!read_more(s, request, deadline)) {
            ++listener.malformed_count;
            return;
        }
        head_end = gsi_find_head_end(request, searched);
    }

    std::optional<std::size_t> length = gsi_content_length(std::string_view(request).substr(0, head_end));
    if (!length) {
        ++listener.malformed_count;
        net_send_all(s, kGsiReply);
        return;
    }
    const std::size_t body_start = head_end + 4;
    while (request.size() - body_start < *length) {
        if (!read_more(s, request, deadline)) {
            ++listener.malformed_count;
            return;
        }
    }

    std::string body = request.substr(body_start, *length);
    request.clear();
    request.shrink_to_fit();
    // The game gets its answer before the body waits for the main thread.
    net_send_all(s, kGsiReply);
    ++listener.requests_count;
    std::lock_guard<std::mutex> hold(listener.queue_lock);
    listener.queue.push_back(std::move(body));
}

void accept_loop(GsiListener* listener, NetSocket listening) {
    for (;;) {
        NetSocket client = net_accept(listening);
        if (client == kNoSocket) {
            if (listener->stopping.load()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        serve_connection(*listener, client);
        net_close_connection(client);
        if (listener->stopping.load()) return;
    }
}

}  // namespace

GsiListener::~GsiListener() { stop(); }

bool GsiListener::start(std::uint32_t wanted_port, std::string& error) {
    if (worker.joinable()) {
        error = "already listening";
        return false;
    }
    if (!net_startup()) {
        error = "WSAStartup failed";
        return false;
    }
    winsock_up = true;
    NetSocket s = net_tcp_socket();
    if (s == kNoSocket) {
        error = "socket() failed";
        stop();
        return false;
    }
    if (wanted_port > kMaxPort || !net_bind_loopback(s, static_cast<std::uint16_t>(wanted_port))) {
        error = "cannot bind 127.0.0.1:" + std::to_string(wanted_port) + " (already in use?)";
        net_close_listener(s);
        stop();
        return false;
    }
    if (!net_listen(s, 8)) {
        error = "listen() failed";
        net_close_listener(s);
        stop();
        return false;
    }
    socket = s;
    port = net_local_port(s);
    stopping.store(false);
    worker = std::thread(accept_loop, this, s);
    return true;
}

void GsiListener::drain(std::vector<std::string>& bodies) {
    std::lock_guard<std::mutex> hold(queue_lock);
    if (bodies.empty()) {
        bodies.swap(queue);
        return;
    }
    // A caller that kept bodies keeps them, in front of the new ones.
    for (std::string& body : queue) bodies.push_back(std::move(body));
    queue.clear();
}

void GsiListener::stop() {
    stopping.store(true);
    if (socket != kNoSocket) {
        net_close_listener(socket);
        socket = kNoSocket;
    }
    if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) worker.join();
    if (winsock_up) {
        net_cleanup();
        winsock_up = false;
    }
}
