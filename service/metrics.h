// The counters behind GET /metrics and their Prometheus text: requests by
// route and status, request durations, rooms created and joined, requests
// refused by the rate limits, and what the store reports about itself.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "service/router.h"

struct StoreStats;

inline constexpr double kRequestSecondsBounds[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1, 2.5};

struct Metrics {
    std::mutex lock;
    std::map<std::pair<Route, unsigned>, std::uint64_t> requests;   // by route and status
    std::array<std::atomic<std::uint64_t>, std::size(kRequestSecondsBounds)> duration_buckets{};
    std::atomic<std::uint64_t> duration_count{0};
    std::atomic<std::uint64_t> duration_nanoseconds{0};
    std::atomic<std::uint64_t> rooms_created{0};
    std::atomic<std::uint64_t> rooms_joined{0};
    std::atomic<std::uint64_t> rate_limited{0};
    std::atomic<std::uint64_t> connections_refused{0};
    std::atomic<std::int64_t> connections_open{0};
};

void count_request(Metrics& metrics, Route route, unsigned status, double seconds);

std::string metrics_text(Metrics& metrics, const StoreStats& store);
