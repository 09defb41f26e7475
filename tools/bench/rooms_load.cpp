// Load for vantor-rooms over loopback, as many agents and browsers would
// bring it: whole matches (one report creating the room, nine joining it) and
// room pages, on keep-alive connections from several threads.
//
//   rooms_load matches PORT CONNECTIONS MATCHES FIRST     closed loop: POSTs/s
//   rooms_load rate PORT CONNECTIONS POSTS_PER_S SECONDS FIRST
//                                                         open loop: latency at a fixed rate
//   rooms_load pages PORT CONNECTIONS SECONDS FIRST ROOMS  closed loop: pages/s
//
// FIRST numbers the matches, so runs do not meet each other's rooms. Prints
// one JSON object. Latency in the open loop counts from when a request was
// due, so a stalled server is not hidden by a stalled sender.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "rooms/room_request.h"
#include "roster/room_key.h"

namespace {

using Clock = std::chrono::steady_clock;

RoomRequest match_request(std::uint64_t match) {
    RoomRequest request;
    for (std::uint64_t i = 0; i < 10; ++i) request.steamids.push_back(76561198000000000ull + match * 16 + i);
    std::sort(request.steamids.begin(), request.steamids.end(),
              [](auto a, auto b) { return std::to_string(a) < std::to_string(b); });
    for (std::uint64_t i = 0; i < 10; ++i)
        request.members.push_back(RoomMember{0, "Player number " + std::to_string(i) + " of the match", "gsi",
                                             request.steamids[i], i < 5 ? "CT" : "T"});
    request.room_key = derive_room_key(request.steamids);
    request.map = "de_mirage";
    return request;
}

std::string post_text(const RoomRequest& request, int reporter) {
    RoomRequest r = request;
    r.reporter = r.steamids[static_cast<std::size_t>(reporter)];
    const std::string body = room_request_json(r);
    return "POST /v1/matches HTTP/1.1\r\nHost: bench\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

int connect_to(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Sends one request and reads its answer; the status, or 0 when the
// connection failed.
int exchange(int fd, const std::string& request, std::string& buffer) {
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return 0;
        sent += static_cast<std::size_t>(n);
    }
    buffer.clear();
    std::size_t header_end = std::string::npos;
    std::size_t length = 0;
    char chunk[16384];
    for (;;) {
        if (header_end == std::string::npos) {
            header_end = buffer.find("\r\n\r\n");
            if (header_end != std::string::npos) {
                const std::size_t at = buffer.find("Content-Length: ");
                length = at == std::string::npos ? 0 : std::strtoul(buffer.c_str() + at + 16, nullptr, 10);
            }
        }
        if (header_end != std::string::npos && buffer.size() >= header_end + 4 + length) break;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return 0;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return std::atoi(buffer.c_str() + 9);
}

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

int run_matches(int port, int connections, int matches, std::uint64_t first) {
    std::atomic<int> next{0}, failed{0}, created{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&] {
            const int fd = connect_to(port);
            std::string buffer;
            for (int m; (m = next.fetch_add(1)) < matches;) {
                const RoomRequest request = match_request(first + static_cast<std::uint64_t>(m));
                for (int reporter = 0; reporter < 10; ++reporter) {
                    const int status = exchange(fd, post_text(request, reporter), buffer);
                    if (status == 201) ++created;
                    else if (status != 200) ++failed;
                }
            }
            close(fd);
        });
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("{\"posts\":%d,\"seconds\":%.3f,\"posts_per_s\":%.0f,\"created\":%d,\"failed\":%d}\n", matches * 10,
                seconds, matches * 10 / seconds, created.load(), failed.load());
    return 0;
}

int run_rate(int port, int connections, double rate, double seconds, std::uint64_t first) {
    const int total = static_cast<int>(rate * seconds);
    std::atomic<int> failed{0};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(connections));
    const auto start = Clock::now() + std::chrono::milliseconds(100);
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&, c] {
            const int fd = connect_to(port);
            std::string buffer;
            // Request i is due at start + i / rate; this connection takes every
            // connections-th one (whole matches stay on one connection).
            for (int i = c; i < total; i += connections) {
                const int match = i / 10;
                const std::string request = post_text(match_request(first + static_cast<std::uint64_t>(match)), i % 10);
                const auto due = start + std::chrono::nanoseconds(static_cast<long long>(i * 1e9 / rate));
                std::this_thread::sleep_until(due);
                const int status = exchange(fd, request, buffer);
                if (status != 200 && status != 201) ++failed;
                latencies[static_cast<std::size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - due).count());
            }
            close(fd);
        });
    for (auto& t : threads) t.join();
    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    const double p50 = percentile(all, 0.50), p99 = percentile(all, 0.99), worst = all.empty() ? 0 : all.back();
    std::printf("{\"posts\":%d,\"rate\":%.0f,\"p50_ms\":%.3f,\"p99_ms\":%.3f,\"max_ms\":%.3f,\"failed\":%d}\n", total,
                rate, p50, p99, worst, failed.load());
    return 0;
}

int run_pages(int port, int connections, double seconds, std::uint64_t first, int rooms) {
    std::atomic<long> pages{0}, failed{0};
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    std::vector<std::string> requests;
    for (int r = 0; r < rooms; ++r)
        requests.push_back("GET /r/" + match_request(first + static_cast<std::uint64_t>(r)).room_key +
                           " HTTP/1.1\r\nHost: bench\r\n\r\n");
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&, c] {
            const int fd = connect_to(port);
            std::string buffer;
            for (std::size_t i = static_cast<std::size_t>(c); Clock::now() < end; i += 7) {
                if (exchange(fd, requests[i % requests.size()], buffer) == 200) ++pages;
                else ++failed;
            }
            close(fd);
        });
    for (auto& t : threads) t.join();
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("{\"pages\":%ld,\"seconds\":%.3f,\"pages_per_s\":%.0f,\"failed\":%ld}\n", pages.load(), took,
                static_cast<double>(pages.load()) / took, failed.load());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 5 && a[0] == "matches")
        return run_matches(std::stoi(a[1]), std::stoi(a[2]), std::stoi(a[3]), std::stoull(a[4]));
    if (a.size() == 6 && a[0] == "rate")
        return run_rate(std::stoi(a[1]), std::stoi(a[2]), std::stod(a[3]), std::stod(a[4]), std::stoull(a[5]));
    if (a.size() == 6 && a[0] == "pages")
        return run_pages(std::stoi(a[1]), std::stoi(a[2]), std::stod(a[3]), std::stoull(a[4]), std::stoi(a[5]));
    std::fprintf(stderr, "usage: see the top of tools/bench/rooms_load.cpp\n");
    return 2;
}
