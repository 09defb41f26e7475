// The PostgreSQL engine of the store, for several instances on one database:
// a pool of libpq connections, every call bounded by the store's timeout, the
// database's unique constraints deciding what is created once. A connection
// that breaks or overruns is dropped and replaced on the next call, so the
// service comes back by itself when the database does.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "service/store.h"

struct PostgresStore;
struct PostgresStoreClose {
    void operator()(PostgresStore* store) const;
};
using PostgresStorePtr = std::unique_ptr<PostgresStore, PostgresStoreClose>;

// `options.db` is any libpq connection string (a postgresql:// URI or
// key=value pairs).
PostgresStorePtr postgres_open(const StoreOptions& options, std::string& error);
ArriveResult postgres_arrive(PostgresStore& store, const RoomRequest& request, std::int64_t now);
RoomLookup postgres_room(PostgresStore& store, std::string_view key);
std::int64_t postgres_purge(PostgresStore& store, std::int64_t before);
bool postgres_healthy(PostgresStore& store, std::string& error);
StoreStats postgres_stats(PostgresStore& store);
