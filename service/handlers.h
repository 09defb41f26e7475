// What the service answers, apart from how HTTP is spoken: a request in, a
// response out. The rate limits are applied here, per route kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/router.h"

struct Store;
struct Metrics;
struct RateLimiter;
struct ServiceOptions;

struct ServiceContext {
    Store& store;
    const ServiceOptions& options;
    Metrics& metrics;
    RateLimiter& post_limiter;
    RateLimiter& get_limiter;
    std::int64_t (*wall_seconds)();   // now, seconds since 1970
    double (*steady_seconds)();       // monotonic, for the buckets
};

struct HttpRequest {
    std::string_view method;
    std::string_view target;
    std::string_view body;
    std::string_view client;   // the address the limits and the log use
};

struct HttpResponse {
    unsigned status = 200;
    Route route = Route::not_found;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string detail;   // why, for the access log of a refusal
};

HttpResponse handle_request(ServiceContext& context, const HttpRequest& request);

// The answer to a request the HTTP layer refused before it was whole (too
// large, too slow): same shape and headers as any other refusal.
HttpResponse refusal(unsigned status, const std::string& why);

// 503 with Retry-After: the database is down, full, locked or too slow.
HttpResponse unavailable(const std::string& why);

std::int64_t system_wall_seconds();
double system_steady_seconds();
