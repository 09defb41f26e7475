// The SQLite engine of the store: one database file in WAL mode, one writer
// connection (SQLite takes one writer at a time anyway) and a pool of reader
// connections. The schema is versioned with PRAGMA user_version.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "service/store.h"

struct SqliteStore;
struct SqliteStoreClose {
    void operator()(SqliteStore* store) const;
};
using SqliteStorePtr = std::unique_ptr<SqliteStore, SqliteStoreClose>;

SqliteStorePtr sqlite_open(const StoreOptions& options, std::string& error);
ArriveResult sqlite_arrive(SqliteStore& store, const RoomRequest& request, std::int64_t now);
RoomLookup sqlite_room(SqliteStore& store, std::string_view key);
std::int64_t sqlite_purge(SqliteStore& store, std::int64_t before);
bool sqlite_healthy(SqliteStore& store, std::string& error);
StoreStats sqlite_stats(SqliteStore& store);
