// The local HTTP endpoint CS2's Game State Integration POSTs to. One worker
// thread accepts connections on 127.0.0.1 and reads all of them at once, so a
// client that connects and sends nothing cannot keep the game waiting; it
// answers each request with an empty 200 as soon as it has been read, and
// queues the bodies, unparsed, for the main thread, which takes them from the
// front of the queue once per pass.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A socket handle of either platform (a SOCKET or a file descriptor).
using NetSocket = std::uintptr_t;
inline constexpr NetSocket kNoSocket = ~NetSocket{0};

// What stop() wakes the worker's wait with: `waited` is among the sockets the
// worker waits on and turns readable once `raised` is written to (a pipe on
// POSIX; on Windows, where WSAPoll takes sockets only, one UDP socket
// connected to itself, both ends at once).
struct NetWake {
    NetSocket waited = kNoSocket;
    NetSocket raised = kNoSocket;
};

// Limits of one request.
inline constexpr std::size_t kGsiMaxRequest = 4194304;        // head and body together
inline constexpr std::size_t kGsiMaxContentLength = 4194304;
inline constexpr std::size_t kGsiRecvChunk = 8192;
inline constexpr std::uint32_t kGsiRecvTimeoutMs = 2000;      // per recv
inline constexpr std::uint32_t kGsiConnectionDeadlineMs = 5000;  // whole connection, from accept

// Connections served at once; further ones wait in the listen backlog.
inline constexpr std::size_t kGsiMaxConnections = 32;
// Bytes all connections may hold together. Past it, only the request furthest
// along and those still below kGsiSmallRequest (every real payload is) are
// read on; the others wait.
inline constexpr std::size_t kGsiInFlightBytes = 4194304;  // 4 MiB
inline constexpr std::size_t kGsiSmallRequest = 131072;    // 128 KiB
// A wait or accept that failed pauses the worker this long, so a broken
// socket cannot spin it.
inline constexpr std::uint32_t kGsiFailurePauseMs = 50;

// The queue keeps at most this many bodies and bytes; past either, the oldest
// bodies are dropped (and counted), so a flood cannot exhaust memory while the
// main loop is slow or blocked.
inline constexpr std::size_t kGsiQueueMaxBodies = 256;
inline constexpr std::size_t kGsiQueueMaxBytes = 8388608;  // 8 MiB

// The empty reply every request gets (57 bytes).
inline constexpr std::string_view kGsiReply =
    "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

struct GsiListener {
    std::thread worker;                   // joinable only while running
    NetSocket socket = kNoSocket;         // the listening socket
    NetWake wake;                         // open while running
    std::uint16_t port = 0;               // the port listened on (start with 0 picks one)
    std::atomic<bool> stopping{false};
    bool winsock_up = false;              // Winsock was started here (POSIX: nothing to clean up)
    std::mutex queue_lock;
    std::deque<std::string> queue;                  // bodies not yet taken, oldest first
    std::size_t queue_bytes = 0;                    // their sizes added up
    std::atomic<std::uint64_t> requests_count{0};   // bodies accepted and queued
    std::atomic<std::uint64_t> malformed_count{0};  // requests given up
    std::atomic<std::uint64_t> dropped_count{0};    // queued bodies dropped unread for room

    // A slow client may hold the single worker for at most this long, however
    // it spaces its bytes; tests shorten it.
    std::uint32_t connection_deadline_ms = kGsiConnectionDeadlineMs;

    GsiListener() = default;
    ~GsiListener();
    GsiListener(const GsiListener&) = delete;
    GsiListener& operator=(const GsiListener&) = delete;

    // Listens on 127.0.0.1:port and starts the worker. On failure fills `error`
    // ("WSAStartup failed", "socket() failed", "cannot bind 127.0.0.1:<port>
    // (already in use?)", "listen() failed") and starts nothing. Port 0 lets
    // the system pick a free port (tests, benchmarks); `port` tells which.
    bool start(std::uint32_t wanted_port, std::string& error);

    // Moves bodies from the front of the queue to the end of `bodies`, oldest
    // first: at most `most_bodies`, and no more once they add up to
    // `most_bytes` (the first body is always taken).
    void drain(std::vector<std::string>& bodies, std::size_t most_bodies = SIZE_MAX,
               std::size_t most_bytes = SIZE_MAX);

    // Appends a body, dropping the oldest ones past the queue's bounds.
    void enqueue(std::string body);

    // Ends the worker, closes every connection, releases the socket and
    // Winsock; returns at once whatever the clients do, as the worker's wait
    // is woken by it. Safe to call twice.
    void stop();

    std::uint64_t requests() const { return requests_count.load(); }
    std::uint64_t malformed() const { return malformed_count.load(); }
    std::uint64_t dropped() const { return dropped_count.load(); }
};

// --- Request head parsing (pure, shared by the worker and the fuzz targets) ---

// Offset of the first "\r\n\r\n" in `request`, searching from `from` (a
// caller that appends can pass its old size minus 3), or npos.
std::size_t gsi_find_head_end(std::string_view request, std::size_t from = 0);

// The Content-Length of a request head: the first "content-length:" anywhere
// in it, in any letter case, then blanks and tabs, then decimal digits up to
// the first non-digit. None when there is no such header, no digit, or the
// value exceeds kGsiMaxContentLength.
std::optional<std::size_t> gsi_content_length(std::string_view head);
