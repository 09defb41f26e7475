#include "service/store_sqlite.h"
#include "service/stored_members.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <atomic>
#include <mutex>
#include <vector>


namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSchemaVersion = 1;

// Rooms keep their roster as one compact JSON array of
// [steamid, name, team, group, source] rows: read whole, never queried inside.
constexpr const char* kSchema = R"(
CREATE TABLE rooms (
    id INTEGER PRIMARY KEY,
    key TEXT NOT NULL UNIQUE,
    map TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    reservation TEXT NOT NULL,
    members TEXT NOT NULL
);
CREATE INDEX rooms_created_at ON rooms (created_at);
CREATE TABLE arrivals (
    room_id INTEGER NOT NULL,
    steamid INTEGER NOT NULL,
    first_seen INTEGER NOT NULL,
    PRIMARY KEY (room_id, steamid)
) WITHOUT ROWID;
)";

struct Connection {
    std::timed_mutex lock;
    sqlite3* db = nullptr;
    std::vector<sqlite3_stmt*> statements;   // prepared once, by text
    std::vector<std::string> texts;
};

// A prepared statement of the connection, reset and with its bindings cleared.
sqlite3_stmt* prepared(Connection& c, const char* text) {
    for (std::size_t i = 0; i < c.texts.size(); ++i) {
        if (c.texts[i] == text) {
            sqlite3_reset(c.statements[i]);
            sqlite3_clear_bindings(c.statements[i]);
            return c.statements[i];
        }
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(c.db, text, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) return nullptr;
    c.texts.emplace_back(text);
    c.statements.push_back(statement);
    return statement;
}

void close_connection(Connection& c) {
    for (sqlite3_stmt* statement : c.statements) sqlite3_finalize(statement);
    c.statements.clear();
    c.texts.clear();
    if (c.db) sqlite3_close_v2(c.db);
    c.db = nullptr;
}

std::string db_error(Connection& c, const char* what) {
    return std::string(what) + ": " + (c.db ? sqlite3_errmsg(c.db) : "no connection");
}

bool exec(Connection& c, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(c.db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(c.db);
    sqlite3_free(message);
    return false;
}

bool open_connection(Connection& c, const StoreOptions& options, bool writer, std::string& error) {
    const int flags = (writer ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(options.db.c_str(), &c.db, flags, nullptr) != SQLITE_OK) {
        error = db_error(c, ("cannot open the database " + options.db).c_str());
        close_connection(c);
        return false;
    }
    sqlite3_busy_timeout(c.db, static_cast<int>(options.timeout.count()));
    // WAL: readers never wait for the writer. NORMAL: a commit survives the
    // process being killed (the OS has the pages); only a power cut may lose
    // the last transactions.
    if (writer && !exec(c, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error)) {
        close_connection(c);
        return false;
    }
    return true;
}

bool migrate(Connection& c, std::string& error) {
    if (!exec(c, "BEGIN IMMEDIATE", error)) return false;
    int version = -1;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(c.db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    bool ok = true;
    if (version < 0) {
        error = db_error(c, "cannot read the schema version");
        ok = false;
    } else if (version > kSchemaVersion) {
        error = "the database has schema version " + std::to_string(version) + ", newer than this program's " +
                std::to_string(kSchemaVersion);
        ok = false;
    } else if (version == 0) {
        ok = exec(c, kSchema, error) && exec(c, "PRAGMA user_version = 1", error);
    }
    std::string ignored;
    if (!ok) exec(c, "ROLLBACK", ignored);
    return ok && exec(c, "COMMIT", error);
}

std::string_view column_text(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? std::string_view(reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string_view();
}

void bind_text(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

struct PendingArrival {
    const RoomRequest* request;
    std::int64_t now;
    ArriveResult result;
    bool done;
};

struct SqliteStore {
    StoreOptions options;
    std::mutex queue_lock;
    std::condition_variable queue_done;
    std::vector<PendingArrival*> queue;   // reports waiting for the next write transaction
    bool leading = false;                 // a batch is being written
    Connection writer;
    std::vector<std::unique_ptr<Connection>> readers;
    std::atomic<std::size_t> next_reader{0};
    std::atomic<int> in_use{0};
    std::atomic<std::uint64_t> queries{0};
    std::atomic<std::uint64_t> query_nanoseconds{0};
    std::array<std::atomic<std::uint64_t>, std::size(kStoreLatencyBounds)> buckets{};
};

namespace {

// One connection held for one call: counted for the stats, timed for the
// latency histogram, released on every path.
struct Held {
    SqliteStore& store;
    Connection* connection = nullptr;
    Clock::time_point start = Clock::now();

    Held(SqliteStore& s, Connection* c) : store(s), connection(c) { store.in_use.fetch_add(1); }
    ~Held() {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        store.queries.fetch_add(1);
        store.query_nanoseconds.fetch_add(static_cast<std::uint64_t>(seconds * 1e9));
        for (std::size_t i = 0; i < std::size(kStoreLatencyBounds); ++i)
            if (seconds <= kStoreLatencyBounds[i]) store.buckets[i].fetch_add(1);
        store.in_use.fetch_sub(1);
        connection->lock.unlock();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

// The writer, or null when it stays busy for longer than the time-out.
Connection* take_writer(SqliteStore& store) {
    return store.writer.lock.try_lock_for(store.options.timeout) ? &store.writer : nullptr;
}

Connection* take_reader(SqliteStore& store) {
    const std::size_t n = store.readers.size();
    if (n == 0) return nullptr;
    const std::size_t first = store.next_reader.fetch_add(1);
    for (std::size_t i = 0; i < n; ++i) {
        Connection& c = *store.readers[(first + i) % n];
        if (c.lock.try_lock()) return &c;
    }
    Connection& c = *store.readers[first % n];
    return c.lock.try_lock_for(store.options.timeout) ? &c : nullptr;
}

struct Rollback {
    Connection& c;
    bool armed = true;
    ~Rollback() {
        if (!armed) return;
        std::string ignored;
        exec(c, "ROLLBACK", ignored);
    }
};

// One step that must finish with SQLITE_DONE (or a row, when `row` is set).
bool step(sqlite3_stmt* statement, bool row = false) {
    if (!statement) return false;
    const int rc = sqlite3_step(statement);
    return rc == SQLITE_DONE || (row && rc == SQLITE_ROW);
}

}  // namespace

void SqliteStoreClose::operator()(SqliteStore* store) const {
    close_connection(store->writer);
    for (auto& reader : store->readers) close_connection(*reader);
    delete store;
}

SqliteStorePtr sqlite_open(const StoreOptions& options, std::string& error) {
    SqliteStorePtr store(new SqliteStore);
    store->options = options;
    if (!open_connection(store->writer, options, true, error)) return nullptr;
    if (!migrate(store->writer, error)) return nullptr;
    const int readers = options.pool_size < 1 ? 1 : options.pool_size;
    for (int i = 0; i < readers; ++i) {
        store->readers.push_back(std::make_unique<Connection>());
        if (!open_connection(*store->readers.back(), options, false, error)) return nullptr;
    }
    return store;
}

namespace {

// One report inside the open write transaction; false with `error` when a
// statement fails (the caller then rolls the whole transaction back).
bool arrive_in_transaction(Connection& c, const RoomRequest& request, std::int64_t now, bool& created,
                           std::string& error) {
    sqlite3_stmt* insert = prepared(c,
        "INSERT INTO rooms (key, map, created_at, reservation, members) VALUES (?, ?, ?, ?, ?) "
        "ON CONFLICT (key) DO NOTHING");
    if (!insert) {
        error = db_error(c, "prepare");
        return false;
    }
    bind_text(insert, 1, request.room_key);
    bind_text(insert, 2, request.map);
    sqlite3_bind_int64(insert, 3, now);
    bind_text(insert, 4, request.reservation);
    const std::string members = stored_members_text(request.members);
    bind_text(insert, 5, members);
    if (!step(insert)) {
        error = db_error(c, "insert room");
        return false;
    }
    created = sqlite3_changes(c.db) == 1;

    sqlite3_stmt* room = prepared(c, "SELECT id, map FROM rooms WHERE key = ?");
    if (!room) {
        error = db_error(c, "prepare");
        return false;
    }
    bind_text(room, 1, request.room_key);
    if (sqlite3_step(room) != SQLITE_ROW) {
        error = db_error(c, "find room");
        return false;
    }
    const std::int64_t id = sqlite3_column_int64(room, 0);
    const bool map_missing = column_text(room, 1).empty();
    sqlite3_reset(room);

    if (!created && map_missing && !request.map.empty()) {
        sqlite3_stmt* map = prepared(c, "UPDATE rooms SET map = ? WHERE id = ?");
        if (map) {
            bind_text(map, 1, request.map);
            sqlite3_bind_int64(map, 2, id);
        }
        if (!step(map)) {
            error = db_error(c, "set map");
            return false;
        }
    }

    sqlite3_stmt* arrival = prepared(c,
        "INSERT INTO arrivals (room_id, steamid, first_seen) VALUES (?, ?, ?) ON CONFLICT DO NOTHING");
    if (arrival) {
        sqlite3_bind_int64(arrival, 1, id);
        sqlite3_bind_int64(arrival, 2, static_cast<std::int64_t>(request.reporter));
        sqlite3_bind_int64(arrival, 3, now);
    }
    if (!step(arrival)) {
        error = db_error(c, "insert arrival");
        return false;
    }
    return true;
}

// One write transaction for a whole batch of reports: a commit writes its
// pages to the WAL once for all of them. Every result is set; none is ok
// unless the commit succeeded.
void arrive_batch(SqliteStore& store, const std::vector<PendingArrival*>& batch) {
    std::string error;
    Connection* c = take_writer(store);
    if (!c) error = "the database writer is busy";
    if (c) {
        Held held(store, c);
        bool ok = exec(*c, "BEGIN IMMEDIATE", error);
        if (ok) {
            Rollback rollback{*c};
            for (PendingArrival* p : batch) {
                ok = arrive_in_transaction(*c, *p->request, p->now, p->result.created, error);
                if (!ok) break;
            }
            ok = ok && exec(*c, "COMMIT", error);
            rollback.armed = !ok;
        }
        if (ok) {
            for (PendingArrival* p : batch) p->result.status = StoreStatus::ok;
            return;
        }
    }
    for (PendingArrival* p : batch) {
        p->result = ArriveResult{};
        p->result.error = error;
    }
}

}  // namespace

ArriveResult sqlite_arrive(SqliteStore& store, const RoomRequest& request, std::int64_t now) {
    PendingArrival mine{&request, now, {}, false};
    const auto deadline = Clock::now() + store.options.timeout;
    std::unique_lock<std::mutex> guard(store.queue_lock);
    store.queue.push_back(&mine);
    // Whoever finds no batch running writes everything queued so far;
    // the others wait for their result.
    while (!mine.done) {
        if (!store.leading) {
            store.leading = true;
            std::vector<PendingArrival*> batch;
            batch.swap(store.queue);
            guard.unlock();
            arrive_batch(store, batch);
            guard.lock();
            for (PendingArrival* p : batch) p->done = true;
            store.leading = false;
            store.queue_done.notify_all();
            continue;
        }
        if (store.queue_done.wait_until(guard, deadline) == std::cv_status::timeout && !mine.done) {
            auto queued = std::find(store.queue.begin(), store.queue.end(), &mine);
            if (queued != store.queue.end()) {   // not taken yet: give up
                store.queue.erase(queued);
                ArriveResult late;
                late.error = "the database writer is busy";
                return late;
            }
            // In a batch being written: its result comes with the batch.
            store.queue_done.wait(guard, [&] { return mine.done; });
        }
    }
    return mine.result;
}

RoomLookup sqlite_room(SqliteStore& store, std::string_view key) {
    RoomLookup lookup;
    Connection* c = take_reader(store);
    if (!c) {
        lookup.error = "no database reader is free";
        return lookup;
    }
    Held held(store, c);
    // One read transaction, so the room and its arrivals agree.
    if (!exec(*c, "BEGIN", lookup.error)) return lookup;
    Rollback rollback{*c};
    sqlite3_stmt* room = prepared(*c, "SELECT id, map, created_at, members FROM rooms WHERE key = ?");
    if (!room) {
        lookup.error = db_error(*c, "prepare");
        return lookup;
    }
    bind_text(room, 1, key);
    const int rc = sqlite3_step(room);
    if (rc == SQLITE_DONE) {
        lookup.status = StoreStatus::not_found;
        return lookup;
    }
    if (rc != SQLITE_ROW) {
        lookup.error = db_error(*c, "find room");
        return lookup;
    }
    const std::int64_t id = sqlite3_column_int64(room, 0);
    lookup.room.key = key;
    lookup.room.map = column_text(room, 1);
    lookup.room.created_at = sqlite3_column_int64(room, 2);
    // A malformed row (edited by hand) is left out; the rest still shows.
    read_stored_members(column_text(room, 3), lookup.room.members);
    sqlite3_reset(room);

    sqlite3_stmt* arrivals =
        prepared(*c, "SELECT steamid, first_seen FROM arrivals WHERE room_id = ? ORDER BY first_seen, steamid");
    if (!arrivals) {
        lookup.error = db_error(*c, "prepare");
        return lookup;
    }
    sqlite3_bind_int64(arrivals, 1, id);
    int step_rc = 0;
    while ((step_rc = sqlite3_step(arrivals)) == SQLITE_ROW)
        lookup.room.arrivals.push_back(StoredArrival{static_cast<std::uint64_t>(sqlite3_column_int64(arrivals, 0)),
                                                     sqlite3_column_int64(arrivals, 1)});
    sqlite3_reset(arrivals);
    if (step_rc != SQLITE_DONE) {
        lookup.error = db_error(*c, "read arrivals");
        return lookup;
    }
    lookup.status = StoreStatus::ok;
    return lookup;
}

std::int64_t sqlite_purge(SqliteStore& store, std::int64_t before) {
    Connection* c = take_writer(store);
    if (!c) return -1;
    Held held(store, c);
    std::string error;
    if (!exec(*c, "BEGIN IMMEDIATE", error)) return -1;
    Rollback rollback{*c};
    sqlite3_stmt* arrivals =
        prepared(*c, "DELETE FROM arrivals WHERE room_id IN (SELECT id FROM rooms WHERE created_at < ?)");
    if (arrivals) sqlite3_bind_int64(arrivals, 1, before);
    if (!step(arrivals)) return -1;
    sqlite3_stmt* rooms = prepared(*c, "DELETE FROM rooms WHERE created_at < ?");
    if (rooms) sqlite3_bind_int64(rooms, 1, before);
    if (!step(rooms)) return -1;
    const std::int64_t deleted = sqlite3_changes(c->db);
    if (!exec(*c, "COMMIT", error)) return -1;
    rollback.armed = false;
    return deleted;
}

bool sqlite_healthy(SqliteStore& store, std::string& error) {
    Connection* c = take_reader(store);
    if (!c) {
        error = "no database reader is free";
        return false;
    }
    Held held(store, c);
    sqlite3_stmt* probe = prepared(*c, "SELECT count(*) FROM (SELECT 1 FROM rooms LIMIT 1)");
    const bool ok = step(probe, true);
    if (probe) sqlite3_reset(probe);
    if (!ok) error = db_error(*c, "probe");
    return ok;
}

StoreStats sqlite_stats(SqliteStore& store) {
    StoreStats stats;
    stats.engine = "sqlite";
    stats.pool_size = static_cast<int>(store.readers.size()) + 1;
    stats.pool_in_use = store.in_use.load();
    stats.queries = store.queries.load();
    stats.query_seconds_total = static_cast<double>(store.query_nanoseconds.load()) / 1e9;
    for (const auto& bucket : store.buckets) stats.latency_buckets.push_back(bucket.load());
    return stats;
}
