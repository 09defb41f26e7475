#include "service/metrics.h"

#include <cstdio>

#include "service/store.h"

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

void family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

void count_request(Metrics& metrics, Route route, unsigned status, double seconds) {
    {
        std::lock_guard<std::mutex> guard(metrics.lock);
        ++metrics.requests[{route, status}];
    }
    for (std::size_t i = 0; i < std::size(kRequestSecondsBounds); ++i)
        if (seconds <= kRequestSecondsBounds[i]) metrics.duration_buckets[i].fetch_add(1);
    metrics.duration_count.fetch_add(1);
    metrics.duration_nanoseconds.fetch_add(static_cast<std::uint64_t>(seconds * 1e9));
}

std::string metrics_text(Metrics& metrics, const StoreStats& store) {
    std::string out;
    family(out, "vantor_rooms_requests_total", "counter", "HTTP requests answered, by route and status.");
    {
        std::lock_guard<std::mutex> guard(metrics.lock);
        for (const auto& [labels, count] : metrics.requests)
            out += std::string("vantor_rooms_requests_total{route=\"") + route_name(labels.first) + "\",status=\"" +
                   std::to_string(labels.second) + "\"} " + std::to_string(count) + "\n";
    }
    family(out, "vantor_rooms_request_duration_seconds", "histogram", "Time from a whole request to its answer.");
    for (std::size_t i = 0; i < std::size(kRequestSecondsBounds); ++i)
        out += "vantor_rooms_request_duration_seconds_bucket{le=\"" + number(kRequestSecondsBounds[i]) + "\"} " +
               std::to_string(metrics.duration_buckets[i].load()) + "\n";
    const std::uint64_t count = metrics.duration_count.load();
    out += "vantor_rooms_request_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(count) + "\n";
    out += "vantor_rooms_request_duration_seconds_sum " + number(metrics.duration_nanoseconds.load() / 1e9) + "\n";
    out += "vantor_rooms_request_duration_seconds_count " + std::to_string(count) + "\n";

    const std::pair<const char*, std::uint64_t> counters[] = {
        {"vantor_rooms_rooms_created_total", metrics.rooms_created.load()},
        {"vantor_rooms_rooms_joined_total", metrics.rooms_joined.load()},
        {"vantor_rooms_rate_limited_total", metrics.rate_limited.load()},
        {"vantor_rooms_connections_refused_total", metrics.connections_refused.load()},
    };
    const char* helps[] = {"Rooms created by a first valid report.", "Reports that joined an existing room.",
                           "Requests refused with 429 by the per-client rate limits.",
                           "Connections closed at once because too many were open."};
    for (std::size_t i = 0; i < std::size(counters); ++i) {
        family(out, counters[i].first, "counter", helps[i]);
        out += std::string(counters[i].first) + " " + std::to_string(counters[i].second) + "\n";
    }
    family(out, "vantor_rooms_connections_open", "gauge", "Client connections open now.");
    out += "vantor_rooms_connections_open " + std::to_string(metrics.connections_open.load()) + "\n";

    family(out, "vantor_rooms_store_connections", "gauge", "Database connections of the store, by state.");
    out += "vantor_rooms_store_connections{engine=\"" + store.engine + "\",state=\"total\"} " +
           std::to_string(store.pool_size) + "\n";
    out += "vantor_rooms_store_connections{engine=\"" + store.engine + "\",state=\"in_use\"} " +
           std::to_string(store.pool_in_use) + "\n";
    family(out, "vantor_rooms_store_query_duration_seconds", "histogram", "Time of one store call.");
    for (std::size_t i = 0; i < store.latency_buckets.size() && i < std::size(kStoreLatencyBounds); ++i)
        out += "vantor_rooms_store_query_duration_seconds_bucket{le=\"" + number(kStoreLatencyBounds[i]) + "\"} " +
               std::to_string(store.latency_buckets[i]) + "\n";
    out += "vantor_rooms_store_query_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(store.queries) + "\n";
    out += "vantor_rooms_store_query_duration_seconds_sum " + number(store.query_seconds_total) + "\n";
    out += "vantor_rooms_store_query_duration_seconds_count " + std::to_string(store.queries) + "\n";
    return out;
}
