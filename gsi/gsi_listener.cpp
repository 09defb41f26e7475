// The portable part of the GSI listener: request parsing, the serving loop
// over all open connections, the bounded queue, start, drain and stop. The
// socket calls themselves are in the _win32 / _posix twins behind
// gsi/gsi_socket.h.
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
    const DecimalPrefix number = decimal_prefix(std::string_view(lower).substr(at));
    if (number.length == 0 || number.overflow || number.value > kGsiMaxContentLength) return std::nullopt;
    return static_cast<std::size_t>(number.value);
}

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Reads per connection and turn of the loop, so one large request cannot hold
// the others back.
constexpr int kReadsPerTurn = 8;

// One request being read.
struct Connection {
    NetSocket socket = kNoSocket;
    std::string request;
    std::size_t head_end = std::string::npos;  // where "\r\n\r\n" starts, once found
    std::optional<std::size_t> length;         // the Content-Length, once the head is read
    Clock::time_point deadline;                // the whole connection, from accept
    Clock::time_point silent_until;            // the per-read time-out
    bool done = false;                         // served or given up: close it
};

void give_up(GsiListener& listener, Connection& c) {
    ++listener.malformed_count;
    c.done = true;
}

// Looks at what has arrived: the head, its Content-Length, a whole body.
// Answers and queues once the request is complete.
void take_request_step(GsiListener& listener, Connection& c, std::size_t searched) {
    if (c.head_end == std::string::npos) {
        c.head_end = gsi_find_head_end(c.request, searched);
        if (c.head_end == std::string::npos) return;
        c.length = gsi_content_length(std::string_view(c.request).substr(0, c.head_end));
        if (!c.length) {
            give_up(listener, c);
            net_send_all(c.socket, kGsiReply);
            return;
        }
    }
    const std::size_t body_start = c.head_end + 4;
    if (c.request.size() - body_start < *c.length) return;
    std::string body = c.request.substr(body_start, *c.length);
    c.request.clear();
    c.request.shrink_to_fit();
    // The game gets its answer before the body waits for the main thread.
    net_send_all(c.socket, kGsiReply);
    ++listener.requests_count;
    listener.enqueue(std::move(body));
    c.done = true;
}

void read_connection(GsiListener& listener, Connection& c, Clock::time_point now) {
    char buffer[kGsiRecvChunk];
    for (int i = 0; i < kReadsPerTurn && !c.done; ++i) {
        std::size_t got = 0;
        const NetRead read = net_recv(c.socket, buffer, sizeof buffer, got);
        if (read == NetRead::nothing_yet) return;
        if (read == NetRead::closed) {
            give_up(listener, c);
            return;
        }
        const std::size_t searched = c.request.size() >= 3 ? c.request.size() - 3 : 0;
        c.request.append(buffer, got);
        c.silent_until = now + milliseconds(kGsiRecvTimeoutMs);
        if (c.request.size() > kGsiMaxRequest) {
            give_up(listener, c);
            return;
        }
        take_request_step(listener, c, searched);
    }
}

// Takes the waiting connections; false when the listening socket was ready
// but none could be taken.
bool accept_waiting(GsiListener& listener, NetSocket listening, std::vector<Connection>& open,
                    Clock::time_point now) {
    bool any = false;
    while (open.size() < kGsiMaxConnections) {
        const NetSocket s = net_accept(listening);
        if (s == kNoSocket) return any;
        any = true;
        Connection c;
        c.socket = s;
        c.deadline = now + milliseconds(listener.connection_deadline_ms);
        c.silent_until = now + milliseconds(kGsiRecvTimeoutMs);
        open.push_back(std::move(c));
    }
    return any;
}

std::size_t bytes_held(const std::vector<Connection>& open) {
    std::size_t total = 0;
    for (const Connection& c : open) total += c.request.size();
    return total;
}

// How long the worker may wait: until the nearest time-out of an open
// connection; with none open, until a client or the stop comes.
std::uint32_t wait_ms(const std::vector<Connection>& open, Clock::time_point now) {
    if (open.empty()) return kNetWaitForever;
    Clock::time_point next = Clock::time_point::max();
    for (const Connection& c : open) next = std::min({next, c.deadline, c.silent_until});
    if (next <= now) return 0;
    // Rounded up: a wait that ended just short of the time-out would spin.
    return static_cast<std::uint32_t>(std::chrono::ceil<milliseconds>(next - now).count());
}

// The worker: waits on its wake-up, the listening socket and every open
// connection at once; stop() raises the wake-up, so no clock is needed to see
// the stop flag.
void serve_loop(GsiListener* listener, NetSocket listening, NetSocket wake) {
    std::vector<Connection> open;
    std::vector<NetWaitEntry> waits;
    std::vector<Connection*> waited;
    while (!listener->stopping.load()) {
        // Past the budget, the request furthest along is read on (it frees its
        // bytes soonest) and the other large ones wait, so the budget is
        // passed by one request at most and some request always progresses.
        const bool over_budget = bytes_held(open) >= kGsiInFlightBytes;
        const Connection* furthest = nullptr;
        for (const Connection& c : open) {
            if (!furthest || c.request.size() > furthest->request.size()) furthest = &c;
        }
        auto now = Clock::now();
        waits.clear();
        waited.clear();
        waits.push_back(NetWaitEntry{wake, false});
        const bool accepting = open.size() < kGsiMaxConnections;
        if (accepting) waits.push_back(NetWaitEntry{listening, false});
        for (Connection& c : open) {
            if (over_budget && &c != furthest && c.request.size() >= kGsiSmallRequest) {
                // Held back by the others' bytes, not silent by its own doing.
                c.silent_until = now + milliseconds(kGsiRecvTimeoutMs);
                continue;
            }
            waits.push_back(NetWaitEntry{c.socket, false});
            waited.push_back(&c);
        }
        if (!net_wait_readable(waits, wait_ms(open, now)))
            std::this_thread::sleep_for(milliseconds(kGsiFailurePauseMs));

        now = Clock::now();
        const std::size_t first = waits.size() - waited.size();
        for (std::size_t i = 0; i < waited.size(); ++i) {
            if (waits[first + i].ready) read_connection(*listener, *waited[i], now);
        }
        for (Connection& c : open) {
            if (!c.done && (now >= c.deadline || now >= c.silent_until)) give_up(*listener, c);
        }
        for (Connection& c : open) {
            if (c.done) net_close_connection(c.socket);
        }
        std::erase_if(open, [](const Connection& c) { return c.done; });
        // A failed accept pauses a little, so a broken socket cannot spin.
        if (accepting && waits[1].ready && !accept_waiting(*listener, listening, open, now))
            std::this_thread::sleep_for(milliseconds(kGsiFailurePauseMs));
    }
    // Stopping: whatever the clients are doing, their requests are given up.
    for (Connection& c : open) {
        ++listener->malformed_count;
        net_close_connection(c.socket);
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
    if (s == kNoSocket || !net_wake_open(wake)) {
        if (s != kNoSocket) net_close_listener(s);
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
    worker = std::thread(serve_loop, this, s, wake.waited);
    return true;
}

void GsiListener::drain(std::vector<std::string>& bodies, std::size_t most_bodies,
                        std::size_t most_bytes) {
    std::lock_guard<std::mutex> hold(queue_lock);
    std::size_t taken = 0;
    std::size_t taken_bytes = 0;
    while (!queue.empty() && taken < most_bodies) {
        const std::size_t size = queue.front().size();
        if (taken > 0 && taken_bytes + size > most_bytes) break;
        bodies.push_back(std::move(queue.front()));
        queue.pop_front();
        queue_bytes -= size;
        taken_bytes += size;
        ++taken;
    }
}

void GsiListener::enqueue(std::string body) {
    std::lock_guard<std::mutex> hold(queue_lock);
    queue_bytes += body.size();
    queue.push_back(std::move(body));
    // The newest body always stays: one body never passes the byte bound.
    while (queue.size() > 1 &&
           (queue.size() > kGsiQueueMaxBodies || queue_bytes > kGsiQueueMaxBytes)) {
        queue_bytes -= queue.front().size();
        queue.pop_front();
        ++dropped_count;
    }
}

void GsiListener::stop() {
    stopping.store(true);
    // The wake-up ends the worker's wait at once; it sees the flag and closes
    // its connections. Only then is the listening socket closed under it.
    if (wake.raised != kNoSocket) net_wake_raise(wake);
    if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) worker.join();
    if (wake.waited != kNoSocket) net_wake_close(wake);
    if (socket != kNoSocket) {
        net_close_listener(socket);
        socket = kNoSocket;
    }
    if (winsock_up) {
        net_cleanup();
        winsock_up = false;
    }
}
