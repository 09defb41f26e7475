// Picks the engine from the db string and hands every call to it.
#include "service/store.h"

#include "service/store_sqlite.h"

struct Store {
    SqliteStorePtr sqlite;
};

namespace {

void close_store(Store* store) { delete store; }

}  // namespace

std::unique_ptr<Store, void (*)(Store*)> open_store(const StoreOptions& options, std::string& error) {
    std::unique_ptr<Store, void (*)(Store*)> store(new Store, close_store);
    store->sqlite = sqlite_open(options, error);
    if (!store->sqlite) store.reset();
    return store;
}

ArriveResult store_arrive(Store& store, const RoomRequest& request, std::int64_t now) {
    return sqlite_arrive(*store.sqlite, request, now);
}

RoomLookup store_room(Store& store, std::string_view key) { return sqlite_room(*store.sqlite, key); }

std::int64_t store_purge(Store& store, std::int64_t before) { return sqlite_purge(*store.sqlite, before); }

bool store_healthy(Store& store, std::string& error) { return sqlite_healthy(*store.sqlite, error); }

StoreStats store_stats(Store& store) { return sqlite_stats(*store.sqlite); }
