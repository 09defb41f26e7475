// The GSI listener over real loopback sockets: what gets answered, counted and
// queued, and that no client can wedge the single worker.
#include "gsi/gsi_listener.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
using RawSocket = SOCKET;
static constexpr int kSendFlags = 0, kShutWrite = SD_SEND;
static const struct Winsock {
    Winsock() { WSADATA data; WSAStartup(MAKEWORD(2, 2), &data); }
} winsock;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
using RawSocket = int;
static constexpr int kSendFlags = MSG_NOSIGNAL, kShutWrite = SHUT_WR;
static void closesocket(RawSocket s) { close(s); }
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A plain blocking TCP client; every read gives up after 15 s so a broken
// listener fails the test instead of hanging it.
struct Client {
    RawSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);

    explicit Client(std::uint16_t port) {
#ifdef _WIN32
        DWORD limit = 15000;
#else
        timeval limit{15, 0};
#endif
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~Client() { closesocket(s); }
    bool send_bytes(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto sent = ::send(s, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 65536)), kSendFlags);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    // Everything until the listener closes (a reset counts as closed).
    std::string read_all() {
        std::string got;
        char buffer[4096];
        for (;;) {
            const auto n = ::recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) return got;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
};

std::string post(std::string_view body) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// Waits (bounded) until the counters reach the given values.
void wait_for(GsiListener& listener, std::uint64_t requests, std::uint64_t malformed) {
    const auto give_up = Clock::now() + 10s;
    while ((listener.requests() < requests || listener.malformed() < malformed) && Clock::now() < give_up)
        std::this_thread::sleep_for(5ms);
}

std::vector<std::string> drained(GsiListener& listener) {
    std::vector<std::string> bodies;
    listener.drain(bodies);
    return bodies;
}

struct ListenerTest : ::testing::Test {
    GsiListener listener;
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(listener.start(0, error)) << error;
    }
};

TEST_F(ListenerTest, EachRequestIsAnsweredThenQueuedOrCountedAsMalformed) {
    const std::string head_of_max = "POST / HTTP/1.1\r\nContent-Length: 4194304\r\n\r\n";
    const std::string fits(kGsiMaxRequest - head_of_max.size(), 'a');
    const std::string whole = post("{}");
    const std::size_t blank = whole.find("\r\n\r\n") + 2;
    // pieces sent with a pause between them
    // body none: given up
    const struct {
        const char* name; std::vector<std::string> pieces; bool half_close, answered; std::optional<std::string> body;
    } rows[] = {
        {"head, blank line and body in three reads", {whole.substr(0, blank), "\r\n", "{}"}, false, true, "{}"},
        {"length in any case after blanks and tabs; bytes past it dropped",
         {"POST / HTTP/1.1\r\nCONTENT-LENGTH: \t \t5\r\n\r\nhello and more"}, false, true, "hello"},
        {"the largest request that fits",
         {"POST / HTTP/1.1\r\nContent-Length: " + std::to_string(fits.size()) + "\r\n\r\n" + fits}, false, true, fits},
        {"a length past the limit", {"POST / HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n"}, false, true, std::nullopt},
        {"a length past 64 bits", {"POST / HTTP/1.1\r\nContent-Length: 18446744073709551616\r\n\r\n"}, false, true,
         std::nullopt},
        {"one byte more than fits", {head_of_max + fits + "a"}, false, false, std::nullopt},
        {"a body cut short", {"POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"map\":"}, true, false, std::nullopt},
        {"nothing sent: the read time-out ends it", {}, false, false, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint64_t requests = listener.requests() + row.body.has_value();
        const std::uint64_t malformed = listener.malformed() + !row.body.has_value();
        Client client(listener.port);
        for (const std::string& piece : row.pieces) {
            client.send_bytes(piece);
            std::this_thread::sleep_for(50ms);
        }
        if (row.half_close) shutdown(client.s, kShutWrite);
        EXPECT_EQ(client.read_all(), row.answered ? kGsiReply : "");
        wait_for(listener, requests, malformed);
        EXPECT_EQ(listener.requests(), requests);
        EXPECT_EQ(listener.malformed(), malformed);
        EXPECT_EQ(drained(listener), row.body ? std::vector<std::string>{*row.body} : std::vector<std::string>{});
    }
}

TEST(Listener, SlowDripClientIsCutOffAtTheConnectionDeadline) {
    GsiListener listener;
    listener.connection_deadline_ms = 1200;
    std::string error;
    ASSERT_TRUE(listener.start(0, error)) << error;
    // One byte every 300 ms keeps each read alive but would take ~20 s.
    std::atomic<bool> quit{false};
    std::thread drip([&] {
        Client client(listener.port);
        for (char c : post(R"({"provider":{"name":"drip"}})")) {
            if (quit || !client.send_bytes(std::string(1, c))) break;
            std::this_thread::sleep_for(300ms);
        }
    });
    const auto began = Clock::now();
    std::this_thread::sleep_for(200ms);
    Client game(listener.port);   // served beside the drip
    ASSERT_TRUE(game.send_bytes(post("{}")));
    EXPECT_EQ(game.read_all(), kGsiReply);
    wait_for(listener, 1, 1);
    EXPECT_EQ(listener.malformed(), 1u);
    EXPECT_LT(Clock::now() - began, 5s);
    quit = true;
    drip.join();
}

// A dozen clients that connect and send nothing, and three that stalled in
// near-4 MiB bodies (more than the listener reads on at once), hold
// connections while the game POSTs: every game POST is answered at once.
TEST_F(ListenerTest, IdleAndStalledClientsDoNotStarveTheGame) {
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 12; ++i) idle.push_back(std::make_unique<Client>(listener.port));
    std::atomic<bool> quit{false};
    std::vector<std::thread> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.emplace_back([&] {
            Client client(listener.port);   // blocks once the listener stops reading it
            client.send_bytes("POST / HTTP/1.1\r\nContent-Length: 4194000\r\n\r\n" + std::string(4100000, ' '));
            while (!quit) std::this_thread::sleep_for(10ms);
        });
    }
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < 3; ++i) {
        Client game(listener.port);
        EXPECT_TRUE(game.send_bytes(post(R"({"map":{"name":"de_mirage"}})")));
        const auto asked = Clock::now();
        EXPECT_EQ(game.read_all(), kGsiReply);
        EXPECT_LT(Clock::now() - asked, 2s) << "POST " << i;   // a wedge lasts the 5 s deadline
    }
    wait_for(listener, 3, 0);
    EXPECT_EQ(drained(listener), std::vector<std::string>(3, R"({"map":{"name":"de_mirage"}})"));
    listener.stop();
    quit = true;
    for (std::thread& t : stalled) t.join();
}

// Several near-4 MiB POSTs at once pass the bytes the listener reads on at
// once: they are served one after another, none left waiting for good.
TEST_F(ListenerTest, ConcurrentLargePostsAreAllServed) {
    std::vector<std::string> replies(4);
    std::vector<std::thread> senders;
    for (std::string& reply : replies) {
        senders.emplace_back([&] {
            Client client(listener.port);
            if (client.send_bytes(post("\"" + std::string(4000000, 'p') + "\""))) reply = client.read_all();
        });
    }
    for (std::thread& t : senders) t.join();
    EXPECT_EQ(replies, std::vector<std::string>(4, std::string(kGsiReply)));
    EXPECT_EQ(drained(listener).size() + listener.dropped(), 4u);   // the queue holds two of them
}

// Stopping never waits for a client, whatever it is doing.
TEST_F(ListenerTest, StopIsPrompt) {
    const std::uint16_t port = listener.port;
    {
        Client served(port);
        ASSERT_TRUE(served.send_bytes(post("{}")));
        EXPECT_EQ(served.read_all(), kGsiReply);
    }
    Client idle(port), half(port);
    ASSERT_TRUE(half.send_bytes("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"map\":"));
    std::this_thread::sleep_for(100ms);
    const auto asked = Clock::now();
    listener.stop();
    EXPECT_LT(Clock::now() - asked, 500ms);
    EXPECT_EQ(idle.read_all() + half.read_all(), "");   // closed, not answered
    EXPECT_EQ(listener.malformed(), 2u);
    listener.stop();   // twice is harmless
}

// The queue keeps the newest bodies within its count and byte bounds and
// counts what it drops; draining can take a bounded share from the front.
TEST(ListenerQueue, KeepsTheNewestWithinItsBounds) {
    GsiListener listener;
    for (char c : {'a', 'b', 'c', 'd'}) listener.enqueue(std::string(3 * 1024 * 1024, c));
    EXPECT_EQ(listener.queue.size() + listener.dropped(), 4u);   // 9 MiB would pass the 8 MiB bound
    EXPECT_EQ(listener.queue.front()[0], 'c');
    for (int i = 0; i < 300; ++i) listener.enqueue(std::to_string(i));
    EXPECT_EQ(listener.queue.size(), kGsiQueueMaxBodies);
    std::vector<std::string> bodies;
    listener.drain(bodies, 10, SIZE_MAX);
    listener.drain(bodies, SIZE_MAX, 1);   // the first body is always taken
    EXPECT_EQ(bodies.size(), 11u);
    EXPECT_EQ(bodies.front(), std::to_string(300 - kGsiQueueMaxBodies));
    listener.drain(bodies);
    EXPECT_EQ(bodies.back(), "299");
    EXPECT_EQ(listener.queue_bytes, 0u);
}

}  // namespace
