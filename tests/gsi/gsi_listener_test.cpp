// The GSI listener over real loopback HTTP: what gets answered, counted and
// queued, and that no client can wedge the single worker.
#include "gsi/gsi_listener.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "core/text.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using RawSocket = SOCKET;
constexpr RawSocket kBad = INVALID_SOCKET;
static void close_raw(RawSocket s) { closesocket(s); }
static constexpr int kSendFlags = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
using RawSocket = int;
constexpr RawSocket kBad = -1;
static void close_raw(RawSocket s) { close(s); }
static constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

namespace {

using namespace std::chrono_literals;

// A plain blocking TCP client; every read gives up after 15 s so a broken
// listener fails the test instead of hanging it.
struct Client {
    RawSocket s = kBad;

    explicit Client(std::uint16_t port) {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close_raw(s);
            s = kBad;
        }
#ifdef _WIN32
        DWORD limit = 15000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
#else
        timeval limit{15, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
#endif
    }
    ~Client() {
        if (s != kBad) close_raw(s);
#ifdef _WIN32
        WSACleanup();
#endif
    }
    bool connected() const { return s != kBad; }

    bool send_bytes(std::string_view bytes) {
        while (!bytes.empty()) {
            auto chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 65536));
            auto sent = ::send(s, bytes.data(), chunk, kSendFlags);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    void end_sending() {
#ifdef _WIN32
        shutdown(s, SD_SEND);
#else
        shutdown(s, SHUT_WR);
#endif
    }
    // Everything until the listener closes (a reset counts as closed).
    std::string read_all() {
        std::string got;
        char buffer[4096];
        for (;;) {
            auto n = ::recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) return got;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
};

std::string post(std::string_view body) {
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// Bodies queued so far, waiting (bounded) until `count` have arrived.
std::vector<std::string> wait_for_bodies(GsiListener& listener, std::size_t count) {
    std::vector<std::string> all;
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (all.size() < count && std::chrono::steady_clock::now() < give_up) {
        std::vector<std::string> some;
        listener.drain(some);
        for (auto& body : some) all.push_back(std::move(body));
        if (all.size() < count) std::this_thread::sleep_for(5ms);
    }
    return all;
}

void wait_for_malformed(GsiListener& listener, std::uint64_t count) {
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (listener.malformed() < count && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(5ms);
}

struct ListenerTest : ::testing::Test {
    GsiListener listener;
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(listener.start(0, error)) << error;
        ASSERT_NE(listener.port, 0);
    }
};

TEST_F(ListenerTest, HeadAndBodyInSeparateSegmentsAreQueuedOnce) {
    const std::string body = R"({"provider":{"appid":730}})";
    Client client(listener.port);
    ASSERT_TRUE(client.connected());
    const std::string request = post(body);
    const std::size_t head = request.find("\r\n\r\n") + 4;
    ASSERT_TRUE(client.send_bytes(request.substr(0, head - 2)));   // head without its last CRLF
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(client.send_bytes(request.substr(head - 2, 2)));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(client.send_bytes(request.substr(head)));
    EXPECT_EQ(client.read_all(), kGsiReply);
    EXPECT_EQ(wait_for_bodies(listener, 1), std::vector<std::string>{body});
    EXPECT_EQ(listener.requests(), 1u);
    EXPECT_EQ(listener.malformed(), 0u);
}

TEST_F(ListenerTest, ContentLengthInAnyCaseWithBlanksAndTabs) {
    Client client(listener.port);
    ASSERT_TRUE(client.send_bytes("POST / HTTP/1.1\r\nCONTENT-LENGTH: \t \t5\r\n\r\nhello and more"));
    EXPECT_EQ(client.read_all(), kGsiReply);
    // Bytes beyond the length are not part of the body.
    EXPECT_EQ(wait_for_bodies(listener, 1), std::vector<std::string>{"hello"});
}

TEST_F(ListenerTest, EmptyBodyIsQueued) {
    Client client(listener.port);
    ASSERT_TRUE(client.send_bytes(post("")));
    EXPECT_EQ(client.read_all(), kGsiReply);
    EXPECT_EQ(wait_for_bodies(listener, 1), std::vector<std::string>{""});
}

TEST_F(ListenerTest, WithoutUsableLengthTheRequestIsAnsweredCountedAndDropped) {
    for (std::string head : {"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                             "POST / HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n",
                             "POST / HTTP/1.1\r\nContent-Length: x1\r\n\r\n"}) {
        Client client(listener.port);
        ASSERT_TRUE(client.send_bytes(head));
        EXPECT_EQ(client.read_all(), kGsiReply) << head;
    }
    wait_for_malformed(listener, 3);
    EXPECT_EQ(listener.malformed(), 3u);
    EXPECT_EQ(listener.requests(), 0u);
    std::vector<std::string> bodies;
    listener.drain(bodies);
    EXPECT_TRUE(bodies.empty());
}

TEST_F(ListenerTest, ClientsThatStopEarlyGetNoReply) {
    {   // the body is cut short
        Client client(listener.port);
        ASSERT_TRUE(client.send_bytes("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"map\":"));
        client.end_sending();
        EXPECT_EQ(client.read_all(), "");
    }
    {   // the head never ends
        Client client(listener.port);
        ASSERT_TRUE(client.send_bytes("POST / HTTP/1.1\r\nContent-Len"));
        client.end_sending();
        EXPECT_EQ(client.read_all(), "");
    }
    {   // connects and sends nothing: the read time-out ends it
        Client client(listener.port);
        EXPECT_EQ(client.read_all(), "");
    }
    wait_for_malformed(listener, 3);
    EXPECT_EQ(listener.malformed(), 3u);
    EXPECT_EQ(listener.requests(), 0u);

    // The worker is free again.
    Client next(listener.port);
    ASSERT_TRUE(next.send_bytes(post("{}")));
    EXPECT_EQ(next.read_all(), kGsiReply);
}

TEST_F(ListenerTest, LargestRequestThatFitsIsTakenOneByteMoreIsNot) {
    const std::string head_of_max = "POST / HTTP/1.1\r\nContent-Length: 4194304\r\n\r\n";
    const std::size_t fits = kGsiMaxRequest - head_of_max.size();
    const std::string body(fits, 'a');
    {
        Client client(listener.port);
        ASSERT_TRUE(client.send_bytes("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(fits) +
                                      "\r\n\r\n" + body));
        EXPECT_EQ(client.read_all(), kGsiReply);
        auto bodies = wait_for_bodies(listener, 1);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(bodies[0].size(), fits);
    }
    {   // 4194304 is a valid length, but head and body together pass the limit
        Client client(listener.port);
        client.send_bytes(head_of_max + body + "a");
        EXPECT_EQ(client.read_all(), "");
        wait_for_malformed(listener, 1);
        EXPECT_EQ(listener.malformed(), 1u);
    }
    EXPECT_EQ(listener.requests(), 1u);
}

TEST(Listener, SlowDripClientIsCutOffAtTheConnectionDeadline) {
    GsiListener listener;
    listener.connection_deadline_ms = 1200;
    std::string error;
    ASSERT_TRUE(listener.start(0, error)) << error;

    // One byte every 300 ms keeps each read alive but would take ~20 s.
    std::atomic<bool> quit{false};
    std::atomic<bool> cut_off{false};
    std::thread drip([&] {
        Client client(listener.port);
        const std::string request = post(R"({"provider":{"name":"drip"}})");
        for (char c : request) {
            if (quit || !client.send_bytes(std::string(1, c))) break;
            std::this_thread::sleep_for(300ms);
        }
        client.end_sending();
        cut_off = client.read_all().empty();
    });
    std::this_thread::sleep_for(200ms);

    Client game(listener.port);  // served beside the drip
    ASSERT_TRUE(game.send_bytes(post(R"({"provider":{"name":"game"}})")));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(game.read_all(), kGsiReply);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 8s);
    quit = true;
    drip.join();
    EXPECT_TRUE(cut_off);
    EXPECT_EQ(listener.malformed(), 1u);
    EXPECT_EQ(wait_for_bodies(listener, 1), std::vector<std::string>{R"({"provider":{"name":"game"}})"});
}

// A dozen local clients that connect and send nothing, and three that stalled
// in the middle of near-4 MiB bodies (more than the listener reads on at
// once), hold connections while the game POSTs: every game POST is still
// answered at once, and queued in order.
TEST_F(ListenerTest, IdleAndStalledClientsDoNotStarveTheGame) {
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 12; ++i) idle.push_back(std::make_unique<Client>(listener.port));
    std::atomic<bool> quit{false};
    std::vector<std::thread> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.emplace_back([&] {
            Client client(listener.port);
            // Blocks once the listener stops reading it; fails once it stops.
            client.send_bytes("POST / HTTP/1.1\r\nContent-Length: 4194000\r\n\r\n" +
                              std::string(4100000, ' '));
            while (!quit) std::this_thread::sleep_for(10ms);
        });
    }
    std::this_thread::sleep_for(300ms);
    const std::string body =
        R"({"provider":{"name":"Counter-Strike: Global Offensive","appid":730},)"
        R"("map":{"name":"de_mirage","phase":"warmup","round":0},"auth":{"token":"t"}})";
    for (int i = 0; i < 3; ++i) {
        Client game(listener.port);
        EXPECT_TRUE(game.send_bytes(post(body)));
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(game.read_all(), kGsiReply);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s) << "POST " << i;
    }
    EXPECT_EQ(wait_for_bodies(listener, 3), std::vector<std::string>(3, body));
    listener.stop();
    quit = true;
    for (std::thread& t : stalled) t.join();
}

// Several near-4 MiB POSTs at once pass the bytes the listener reads on at
// once: they are served one after another, none left waiting for good.
TEST_F(ListenerTest, ConcurrentLargePostsAreAllServed) {
    const std::string body = "{\"pad\":\"" + std::string(4000000, 'p') + "\"}";
    std::vector<std::string> replies(4);
    std::vector<std::thread> senders;
    for (std::string& reply : replies) {
        senders.emplace_back([&] {
            Client client(listener.port);
            if (client.send_bytes(post(body))) reply = client.read_all();
        });
    }
    for (std::thread& t : senders) t.join();
    EXPECT_EQ(replies, std::vector<std::string>(4, std::string(kGsiReply)));
    EXPECT_EQ(listener.requests(), 4u);
    EXPECT_EQ(listener.malformed(), 0u);
    std::vector<std::string> bodies;
    listener.drain(bodies);  // two fit the queue's 8 MiB; the older ones made room
    EXPECT_EQ(bodies.size() + listener.dropped(), 4u);
}

// Stopping never waits for a client, whatever it is doing.
TEST(Listener, StopReturnsPromptlyWithClientsConnected) {
    GsiListener listener;
    std::string error;
    ASSERT_TRUE(listener.start(0, error)) << error;
    Client idle(listener.port);
    Client half(listener.port);
    ASSERT_TRUE(half.send_bytes("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"map\":"));
    std::this_thread::sleep_for(100ms);
    const auto asked = std::chrono::steady_clock::now();
    listener.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
    EXPECT_EQ(idle.read_all(), "");  // closed, not answered
    EXPECT_EQ(half.read_all(), "");
    EXPECT_EQ(listener.malformed(), 2u);
    EXPECT_EQ(listener.requests(), 0u);
}

// The queue keeps the newest bodies within its count and byte bounds and
// counts what it drops; draining can take a bounded share from the front.
TEST(ListenerQueue, KeepsTheNewestWithinItsBounds) {
    GsiListener listener;
    for (int i = 0; i < 4; ++i)
        listener.enqueue(std::string(3 * 1024 * 1024, static_cast<char>('a' + i)));
    ASSERT_EQ(listener.queue.size(), 2u);  // 9 MiB would pass the 8 MiB bound
    EXPECT_EQ(listener.queue.front()[0], 'c');
    EXPECT_EQ(listener.dropped(), 2u);
    listener.enqueue(std::string(kGsiMaxRequest, 'e'));  // 3 + 3 + 4 MiB: the oldest goes
    ASSERT_EQ(listener.queue.size(), 2u);
    EXPECT_EQ(listener.queue.front()[0], 'd');
    EXPECT_EQ(listener.queue_bytes, 3 * 1024 * 1024 + kGsiMaxRequest);
    EXPECT_EQ(listener.dropped(), 3u);

    for (int i = 0; i < 300; ++i) listener.enqueue(std::to_string(i));
    EXPECT_EQ(listener.queue.size(), kGsiQueueMaxBodies);
    EXPECT_EQ(listener.queue.front(), std::to_string(300 - kGsiQueueMaxBodies));
    std::vector<std::string> bodies;
    listener.drain(bodies, 10, SIZE_MAX);
    EXPECT_EQ(bodies.size(), 10u);
    EXPECT_EQ(bodies.front(), std::to_string(300 - kGsiQueueMaxBodies));
    listener.drain(bodies);
    EXPECT_EQ(bodies.size(), kGsiQueueMaxBodies);
    EXPECT_EQ(bodies.back(), "299");
    EXPECT_EQ(listener.queue_bytes, 0u);
}

TEST(Listener, SecondListenerOnTheSamePortFailsAndTheFirstRunsOn) {
    GsiListener first;
    std::string error;
    ASSERT_TRUE(first.start(0, error)) << error;
    GsiListener second;
    EXPECT_FALSE(second.start(first.port, error));
    EXPECT_EQ(error, "cannot bind 127.0.0.1:" + std::to_string(first.port) + " (already in use?)");
    second.stop();

    Client client(first.port);
    ASSERT_TRUE(client.send_bytes(post("{}")));
    EXPECT_EQ(client.read_all(), kGsiReply);
    EXPECT_EQ(wait_for_bodies(first, 1).size(), 1u);

    EXPECT_FALSE(second.start(70000, error));
    EXPECT_EQ(error, "cannot bind 127.0.0.1:70000 (already in use?)");
}

TEST(Listener, StopEndsAnIdleWorkerAndThePortCanBeTakenAgain) {
    GsiListener listener;
    std::string error;
    ASSERT_TRUE(listener.start(0, error)) << error;
    const std::uint16_t port = listener.port;
    {
        Client client(port);
        ASSERT_TRUE(client.send_bytes(post("{}")));
        EXPECT_EQ(client.read_all(), kGsiReply);
    }
    while (listener.requests() < 1) std::this_thread::sleep_for(5ms);
    listener.stop();   // the worker sits in accept
    EXPECT_FALSE(listener.worker.joinable());
    EXPECT_EQ(listener.socket, kNoSocket);
    listener.stop();   // twice is harmless
    EXPECT_EQ(listener.requests(), 1u);

    // A restarted agent gets its port back although a served connection was
    // closed on it moments ago.
    GsiListener again;
    EXPECT_TRUE(again.start(port, error)) << error;
    Client client(port);
    ASSERT_TRUE(client.send_bytes(post("[]")));
    EXPECT_EQ(client.read_all(), kGsiReply);
}

TEST(RequestHead, ContentLength) {
    EXPECT_EQ(gsi_content_length("POST / HTTP/1.1\r\nContent-Length: 42"), 42u);
    EXPECT_EQ(gsi_content_length("POST / HTTP/1.1\r\ncOnTeNt-LeNgTh:\t\t 0"), 0u);
    EXPECT_EQ(gsi_content_length("content-length:7"), 7u);                 // exactly 15 bytes before the digit
    EXPECT_EQ(gsi_content_length("Content-Length:12abc\r\nX: 1"), 12u);    // digits up to the first other byte
    EXPECT_EQ(gsi_content_length("X-Note: content-length: 3"), 3u);       // found anywhere in the head
    EXPECT_EQ(gsi_content_length("Content-Length: 4194304"), 4194304u);
    EXPECT_EQ(gsi_content_length("Content-Length: 000000000004194304"), 4194304u);
    EXPECT_FALSE(gsi_content_length("Content-Length: 4194305"));
    EXPECT_FALSE(gsi_content_length("Content-Length: 99999999999999999999999999999"));
    EXPECT_FALSE(gsi_content_length("Content-Length: -5"));
    EXPECT_FALSE(gsi_content_length("Content-Length:\r\n5"));
    EXPECT_FALSE(gsi_content_length("Content-Length : 5"));
    EXPECT_FALSE(gsi_content_length("content-length:"));
    EXPECT_FALSE(gsi_content_length("POST / HTTP/1.1\r\nHost: 127.0.0.1"));
    EXPECT_FALSE(gsi_content_length(""));
}

TEST(RequestHead, HeadEnd) {
    EXPECT_EQ(gsi_find_head_end("POST / HTTP/1.1\r\n\r\nbody"), 15u);
    EXPECT_EQ(gsi_find_head_end("\r\n\r\n"), 0u);
    EXPECT_EQ(gsi_find_head_end("\r\n\r"), std::string_view::npos);
    EXPECT_EQ(gsi_find_head_end("a\r\n\r\nb\r\n\r\n", 2), 6u);
    EXPECT_EQ(gsi_find_head_end("abc", 99), std::string_view::npos);
}

}  // namespace
