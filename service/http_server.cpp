#include "service/http_server.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>   // before Asio, whose awaitable.hpp needs std::exchange

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "rooms/room_request.h"
#include "service/access_log.h"
#include "service/handlers.h"
#include "service/metrics.h"
#include "service/options.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kHeaderLimit = 8 * 1024;
// Behind a reverse proxy every connection has the proxy's address, so the
// per-address cap applies only when clients connect directly.
constexpr int kConnectionsPerAddress = 64;
constexpr auto kShutdownGrace = std::chrono::milliseconds(1500);

// Sessions still waiting when the loop ends are destroyed with `io`, and
// they reach back to the counters: those are declared before it, so they
// outlive it.
struct Server {
    const ServiceOptions& options;
    ServiceContext& context;
    std::atomic<int> open{0};
    std::atomic<int> in_flight{0};
    std::atomic<bool> stopping{false};
    Clock::time_point stop_asked;
    std::mutex by_address_lock;
    std::unordered_map<std::string, int> by_address;
    net::io_context io;
    tcp::acceptor acceptor{io};
    net::steady_timer accept_pause{io};
    net::steady_timer shutdown_timer{io};
    net::signal_set signals{io, SIGINT, SIGTERM};
    net::thread_pool workers;

    Server(const ServiceOptions& o, ServiceContext& c)
        : options(o), context(c), workers(static_cast<std::size_t>(o.db_pool < 2 ? 2 : o.db_pool)) {}
};

std::string forwarded_client(std::string_view header) {
    // The last entry is the one our own proxy added; those before it are
    // whatever the client claimed.
    const std::size_t comma = header.rfind(',');
    std::string_view last = comma == std::string_view::npos ? header : header.substr(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) last.remove_suffix(1);
    return std::string(last.substr(0, 64));
}

struct Session : std::enable_shared_from_this<Session> {
    Server& server;
    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;
    std::string peer;
    std::string client;
    std::string method;
    std::string target;
    const char* route = "";
    std::string detail;
    Clock::time_point started;

    Session(Server& s, tcp::socket socket, std::string address)
        : server(s), stream(std::move(socket)), peer(std::move(address)) {}

    ~Session() {
        server.context.metrics.connections_open.fetch_sub(1);
        server.open.fetch_sub(1);
        std::lock_guard<std::mutex> guard(server.by_address_lock);
        auto found = server.by_address.find(peer);
        if (found != server.by_address.end() && --found->second <= 0) server.by_address.erase(found);
    }

    void read() {
        parser.emplace();
        parser->header_limit(kHeaderLimit);
        parser->body_limit(kMaxRoomRequestBytes);
        // One deadline for the whole request, headers and body: a client
        // that trickles bytes cannot hold the connection for longer.
        stream.expires_after(server.options.request_timeout);
        http::async_read_header(stream, buffer, *parser,
                                beast::bind_front_handler(&Session::on_header, shared_from_this()));
    }

    void on_header(beast::error_code error, std::size_t) {
        if (error) return on_read(error, 0);
        if (beast::iequals(parser->get()[http::field::expect], "100-continue")) {
            auto go_on = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            http::async_write(stream, *go_on, [self = shared_from_this(), go_on](beast::error_code e, std::size_t) {
                if (e) return self->close();
                http::async_read(self->stream, self->buffer, *self->parser,
                                 beast::bind_front_handler(&Session::on_read, self));
            });
            return;
        }
        http::async_read(stream, buffer, *parser, beast::bind_front_handler(&Session::on_read, shared_from_this()));
    }

    void on_read(beast::error_code error, std::size_t) {
        if (error == http::error::end_of_stream || error == beast::error::timeout || error == net::error::operation_aborted ||
            error == net::error::connection_reset || error == net::error::eof)
            return close();
        started = Clock::now();
        client = peer;
        // Until its answer is written: a stop waits for it.
        server.in_flight.fetch_add(1);
        if (error) {
            // Answer what can be answered, then hang up: the stream is out of step.
            method = parser->get().method_string();
            target = parser->get().target();
            if (error == http::error::body_limit)
                return send(refusal(400, "body over 64 KiB"), false);
            if (error == http::error::header_limit)
                return send(refusal(431, "request headers too large"), false);
            return send(refusal(400, "malformed HTTP request"), false);
        }
        const auto& request = parser->get();
        method = request.method_string();
        target = request.target();
        if (server.options.trust_proxy) {
            const auto forwarded = request.find("X-Forwarded-For");
            if (forwarded != request.end()) client = forwarded_client(forwarded->value());
        }
        // The store may block (a busy database): never on a network thread.
        // More requests than database connections wait here; one that waited
        // longer than the store may take is answered 503, not piled up.
        net::post(server.workers, [self = shared_from_this(), queued = std::chrono::steady_clock::now()] {
            const auto& request = self->parser->get();
            HttpResponse answer =
                std::chrono::steady_clock::now() - queued > self->server.options.db_timeout
                    ? unavailable("waited too long for a database worker")
                    : handle_request(self->server.context,
                                     HttpRequest{self->method, self->target, request.body(), self->client});
            const bool keep = request.keep_alive() && !self->server.stopping.load();
            net::post(self->stream.get_executor(), [self, answer = std::move(answer), keep]() mutable {
                self->send(std::move(answer), keep);
            });
        });
    }

    void send(HttpResponse answer, bool keep) {
        route = route_name(answer.route);
        detail = std::move(answer.detail);
        response = {};
        response.version(11);
        response.result(answer.status);
        response.set(http::field::server, "vantor-rooms");
        for (auto& [name, value] : answer.headers) response.set(name, value);
        if (method != "HEAD") response.body() = std::move(answer.body);
        response.keep_alive(keep);
        response.prepare_payload();
        stream.expires_after(server.options.request_timeout);
        http::async_write(stream, response, beast::bind_front_handler(&Session::on_write, shared_from_this()));
    }

    void on_write(beast::error_code error, std::size_t) {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        const Route route_kind = route_request(method, target).route;
        count_request(server.context.metrics, route_kind, response.result_int(), seconds);
        write_access_line(AccessRecord{
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count(),
            client, method, target, route, response.result_int(), response.body().size(), seconds, detail});
        server.in_flight.fetch_sub(1);
        if (error || !response.keep_alive() || server.stopping.load()) return close();
        read();
    }

    void close() {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream.close();
    }
};

void accept_next(Server& server);

void on_accept(Server& server, beast::error_code error, tcp::socket socket) {
    if (error == net::error::operation_aborted || server.stopping.load()) return;
    if (error) {
        // Out of descriptors, most likely: wait a little rather than spin.
        server.accept_pause.expires_after(std::chrono::milliseconds(50));
        server.accept_pause.async_wait([&server](beast::error_code e) {
            if (!e) accept_next(server);
        });
        return;
    }
    beast::error_code ignored;
    const std::string address = socket.remote_endpoint(ignored).address().to_string();
    bool refused = server.open.load() >= server.options.max_connections;
    if (!refused && !server.options.trust_proxy) {
        std::lock_guard<std::mutex> guard(server.by_address_lock);
        refused = server.by_address[address] >= kConnectionsPerAddress;
    }
    if (refused) {
        server.context.metrics.connections_refused.fetch_add(1);
        socket.close(ignored);
    } else {
        {
            std::lock_guard<std::mutex> guard(server.by_address_lock);
            ++server.by_address[address];
        }
        server.open.fetch_add(1);
        server.context.metrics.connections_open.fetch_add(1);
        std::make_shared<Session>(server, std::move(socket), address)->read();
    }
    accept_next(server);
}

void accept_next(Server& server) {
    server.acceptor.async_accept(net::make_strand(server.io), [&server](beast::error_code error, tcp::socket socket) {
        on_accept(server, error, std::move(socket));
    });
}

// After a stop signal: no new connections; the answers under way are
// finished, then the loop ends, and after the grace period it ends anyway.
void wait_for_in_flight(Server& server) {
    if (server.in_flight.load() == 0 || Clock::now() - server.stop_asked >= kShutdownGrace) {
        server.io.stop();
        return;
    }
    server.shutdown_timer.expires_after(std::chrono::milliseconds(10));
    server.shutdown_timer.async_wait([&server](beast::error_code) { wait_for_in_flight(server); });
}

}  // namespace

bool run_http_server(const ServiceOptions& options, ServiceContext& context, const std::function<void(int)>& on_listening,
                     std::string& error) {
    Server server(options, context);
    beast::error_code failure;
    const net::ip::address address = net::ip::make_address(options.listen_host, failure);
    if (failure) {
        error = "not an IP address to listen on: " + options.listen_host;
        return false;
    }
    const tcp::endpoint endpoint(address, options.listen_port);
    server.acceptor.open(endpoint.protocol(), failure);
    if (!failure) server.acceptor.set_option(net::socket_base::reuse_address(true), failure);
    if (!failure) server.acceptor.bind(endpoint, failure);
    if (!failure) server.acceptor.listen(net::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + options.listen_host + ":" + std::to_string(options.listen_port) + ": " +
                failure.message();
        return false;
    }
    on_listening(server.acceptor.local_endpoint().port());

    server.signals.async_wait([&server](beast::error_code e, int) {
        if (e) return;
        server.stopping.store(true);
        server.stop_asked = Clock::now();
        beast::error_code ignored;
        server.acceptor.close(ignored);
        wait_for_in_flight(server);
    });
    accept_next(server);

    std::vector<std::thread> threads;
    for (int i = 1; i < options.threads; ++i) threads.emplace_back([&server] { server.io.run(); });
    server.io.run();
    for (std::thread& thread : threads) thread.join();
    server.workers.join();
    return true;
}
