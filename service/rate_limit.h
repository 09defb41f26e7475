// Per-client token buckets: each client address has one bucket per kind of
// request, refilled at a steady rate up to a burst. Buckets of clients that
// have been quiet long enough to be full again are dropped, so memory stays
// bounded by the clients of the last minute.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

inline constexpr std::size_t kMaxTrackedClients = 100000;

struct BucketRule {
    double per_second = 10;   // 0: no limit
    double burst = 30;
};

struct RateLimiter {
    BucketRule rule;
    std::mutex lock;
    struct Bucket {
        double tokens = 0;
        double at = 0;   // seconds, steady clock
    };
    std::unordered_map<std::string, Bucket> buckets;
    double last_sweep = 0;
};

struct RateDecision {
    bool allowed = true;
    int retry_after = 0;   // whole seconds until a token is there, when refused
};

// Takes one token of `client`'s bucket at time `now` (seconds, monotonic).
RateDecision take_token(RateLimiter& limiter, std::string_view client, double now);
