#include "service/rate_limit.h"

#include <algorithm>
#include <cmath>

RateDecision take_token(RateLimiter& limiter, std::string_view client, double now) {
    const BucketRule rule = limiter.rule;
    if (rule.per_second <= 0) return {};
    std::lock_guard<std::mutex> guard(limiter.lock);
    // A bucket untouched for the time it takes to fill is full: forget it.
    const double refill = rule.burst / rule.per_second;
    if (now - limiter.last_sweep > std::max(refill, 10.0)) {
        std::erase_if(limiter.buckets, [&](const auto& entry) { return now - entry.second.at >= refill; });
        limiter.last_sweep = now;
    }
    // Against a flood from ever new addresses: forgetting everyone only
    // gives each client a full bucket once more.
    if (limiter.buckets.size() >= kMaxTrackedClients) limiter.buckets.clear();
    auto [found, fresh] = limiter.buckets.try_emplace(std::string(client));
    RateLimiter::Bucket& bucket = found->second;
    if (fresh) bucket = {rule.burst, now};
    bucket.tokens = std::min(rule.burst, bucket.tokens + (now - bucket.at) * rule.per_second);
    bucket.at = now;
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return {};
    }
    return {false, std::max(1, static_cast<int>(std::ceil((1 - bucket.tokens) / rule.per_second)))};
}
