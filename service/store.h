// Where the room service keeps its rooms: one small interface, two engines
// (an SQLite file for one box, PostgreSQL for several instances). The HTTP
// side calls only these functions and never learns which engine answers.
// Every function is safe to call from several threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rooms/room_request.h"

struct Store;   // opaque: the engine and its connections

struct StoreOptions {
    std::string db;                          // a file path, or a postgresql:// (libpq) connection string
    int pool_size = 8;                       // connections (PostgreSQL) or readers (SQLite)
    std::chrono::milliseconds timeout{2000}; // longest wait for the database in one call
};

// Opens the store and brings its schema up to date (versioned, safe when two
// instances start at once). Null with `error` filled when that fails.
std::unique_ptr<Store, void (*)(Store*)> open_store(const StoreOptions& options, std::string& error);

enum class StoreStatus {
    ok,
    not_found,     // no such room
    unavailable,   // the database is down, full, locked or too slow: answer 503
};

struct StoredArrival {
    std::uint64_t steamid = 0;
    std::int64_t first_seen = 0;   // seconds since 1970, UTC
};

struct StoredRoom {
    std::string key;
    std::string map;
    std::int64_t created_at = 0;          // seconds since 1970, UTC
    std::vector<RoomMember> members;      // the roster of the first valid report
    std::vector<StoredArrival> arrivals;  // reporters, by first_seen
};

struct ArriveResult {
    StoreStatus status = StoreStatus::unavailable;
    bool created = false;   // this call created the room
    std::string error;      // why, when unavailable
};

// Creates the room of a checked request or joins it, exactly once across
// threads and instances: the first report's roster and map are kept (a map
// learnt later fills an empty one), the reporter's arrival is recorded once.
ArriveResult store_arrive(Store& store, const RoomRequest& request, std::int64_t now);

struct RoomLookup {
    StoreStatus status = StoreStatus::unavailable;
    StoredRoom room;
    std::string error;
};
RoomLookup store_room(Store& store, std::string_view key);

// Deletes rooms created before `before`; the number deleted, or -1 when the
// database is unavailable.
std::int64_t store_purge(Store& store, std::int64_t before);

// The database answers; `error` says why not.
bool store_healthy(Store& store, std::string& error);

// For /metrics: the engine's name, pool use and database latency so far.
struct StoreStats {
    std::string engine;                 // "sqlite" or "postgresql"
    int pool_size = 0;
    int pool_in_use = 0;
    std::uint64_t queries = 0;
    double query_seconds_total = 0;
    std::vector<std::uint64_t> latency_buckets;   // cumulative counts for kStoreLatencyBounds
};
inline constexpr double kStoreLatencyBounds[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1};
StoreStats store_stats(Store& store);
