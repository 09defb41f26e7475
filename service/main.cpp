// vantor-rooms: the room service. Creates a match's room on the first valid
// report, joins it on the others and serves the room page.
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "service/handlers.h"
#include "service/http_server.h"
#include "service/metrics.h"
#include "service/options.h"
#include "service/rate_limit.h"
#include "service/store.h"

namespace {

// Deletes old rooms at start and every hour until told to stop.
struct Purger {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
};

void purge_loop(Purger& purger, Store& store, int keep_days) {
    std::unique_lock<std::mutex> guard(purger.lock);
    while (!purger.stop) {
        const std::int64_t before = system_wall_seconds() - std::int64_t(keep_days) * 86400;
        const std::int64_t deleted = store_purge(store, before);
        std::fprintf(stderr, deleted < 0 ? "vantor-rooms: purge failed (database unavailable)\n"
                                         : "vantor-rooms: purged %lld rooms older than %d days\n",
                     static_cast<long long>(deleted), keep_days);
        purger.wake.wait_for(guard, std::chrono::hours(1), [&] { return purger.stop; });
    }
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedOptions parsed = parse_service_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "vantor-rooms: %s\n%s", parsed.error.c_str(), kServiceUsage);
        return 2;
    }
    const ServiceOptions& options = parsed.options;
    if (options.help) {
        std::fputs(kServiceUsage, stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    auto store = open_store(StoreOptions{options.db, options.db_pool, options.db_timeout}, error);
    if (!store) {
        std::fprintf(stderr, "vantor-rooms: %s\n", error.c_str());
        return 1;
    }
    Metrics metrics;
    RateLimiter posts;
    posts.rule = options.post_rule;
    RateLimiter gets;
    gets.rule = options.get_rule;
    ServiceContext context{*store, options, metrics, posts, gets, system_wall_seconds, system_steady_seconds};

    Purger purger;
    std::thread purging([&] { purge_loop(purger, *store, options.keep_days); });
    const bool ran = run_http_server(options, context, [&](int port) {
        const nlohmann::json line{{"event", "listening"}, {"host", options.listen_host}, {"port", port},
                                  {"public_url", options.public_url}, {"db", options.db}};
        std::printf("%s\n", line.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace).c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "vantor-rooms: listening on %s:%d, rooms at %s/r/<key>\n", options.listen_host.c_str(),
                     port, options.public_url.c_str());
    }, error);
    {
        std::lock_guard<std::mutex> guard(purger.lock);
        purger.stop = true;
    }
    purger.wake.notify_all();
    purging.join();
    if (!ran) {
        std::fprintf(stderr, "vantor-rooms: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "vantor-rooms: stopped\n");
    return 0;
}
