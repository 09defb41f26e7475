// Picks the engine from the db string and hands every call to it: a
// postgresql:// or postgres:// URI, or libpq's key=value form (a string with
// "=" in it, such as "host=/run/postgresql dbname=rooms"), is PostgreSQL;
// anything else is the path of an SQLite file.
#include "service/store.h"

#include "service/store_postgres.h"
#include "service/store_sqlite.h"

struct Store {
    SqliteStorePtr sqlite;
    PostgresStorePtr postgres;
};

namespace {

void close_store(Store* store) { delete store; }

bool is_postgres(std::string_view db) {
    return db.starts_with("postgresql://") || db.starts_with("postgres://") || db.find('=') != std::string_view::npos;
}

}  // namespace

std::unique_ptr<Store, void (*)(Store*)> open_store(const StoreOptions& options, std::string& error) {
    std::unique_ptr<Store, void (*)(Store*)> store(new Store, close_store);
    if (is_postgres(options.db)) {
        store->postgres = postgres_open(options, error);
        if (!store->postgres) store.reset();
        return store;
    }
    store->sqlite = sqlite_open(options, error);
    if (!store->sqlite) store.reset();
    return store;
}

ArriveResult store_arrive(Store& store, const RoomRequest& request, std::int64_t now) {
    return store.postgres ? postgres_arrive(*store.postgres, request, now) : sqlite_arrive(*store.sqlite, request, now);
}

RoomLookup store_room(Store& store, std::string_view key) {
    return store.postgres ? postgres_room(*store.postgres, key) : sqlite_room(*store.sqlite, key);
}

std::int64_t store_purge(Store& store, std::int64_t before) {
    return store.postgres ? postgres_purge(*store.postgres, before) : sqlite_purge(*store.sqlite, before);
}

bool store_healthy(Store& store, std::string& error) {
    return store.postgres ? postgres_healthy(*store.postgres, error) : sqlite_healthy(*store.sqlite, error);
}

StoreStats store_stats(Store& store) {
    return store.postgres ? postgres_stats(*store.postgres) : sqlite_stats(*store.sqlite);
}
