#include "service/store_postgres.h"
#include "service/stored_members.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// Taken by the instance that migrates, for the length of its transaction:
// two instances starting at once migrate one after the other.
constexpr long long kMigrationLock = 0x76616e746f72;   // "vantor"

// Each entry brings the schema from its index to the next version.
// Each entry brings the schema from its index to the next version. The
// tables are the SQLite engine's: the roster is one JSON array of
// [steamid, name, team, group, source] rows, read whole, never queried inside.
constexpr const char* kMigrations[] = {
    "CREATE TABLE rooms ("
    " id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " key text NOT NULL UNIQUE,"
    " map text NOT NULL,"
    " created_at bigint NOT NULL,"
    " reservation text NOT NULL,"
    " members text NOT NULL);"
    "CREATE INDEX rooms_created_at ON rooms (created_at);"
    "CREATE TABLE arrivals ("
    " room_id bigint NOT NULL REFERENCES rooms ON DELETE CASCADE,"
    " steamid bigint NOT NULL,"
    " first_seen bigint NOT NULL,"
    " PRIMARY KEY (room_id, steamid));",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

// One statement, so one round trip and one transaction: the room row and the
// arrival commit together. ON CONFLICT decides across instances which report
// created the room: a row just inserted has no xmax, one that met the
// conflict is updated (a map the first report lacked is filled) and has one.
constexpr const char* kArrive =
    "WITH room AS ("
    " INSERT INTO rooms (key, map, created_at, reservation, members) VALUES ($1, $2, $3, $4, $5)"
    " ON CONFLICT (key) DO UPDATE SET map = CASE WHEN rooms.map = '' THEN EXCLUDED.map ELSE rooms.map END"
    " RETURNING id, xmax = 0 AS created),"
    " arrival AS ("
    " INSERT INTO arrivals (room_id, steamid, first_seen) SELECT id, $6, $3 FROM room ON CONFLICT DO NOTHING)"
    " SELECT created FROM room";
constexpr const char* kRoom =
    "SELECT r.map, r.created_at, r.members,"
    " coalesce((SELECT string_agg(a.steamid || ' ' || a.first_seen, ' ' ORDER BY a.first_seen, a.steamid)"
    "  FROM arrivals a WHERE a.room_id = r.id), '')"
    " FROM rooms r WHERE r.key = $1";
constexpr const char* kPurge =
    "WITH gone AS (DELETE FROM rooms WHERE created_at < $1 RETURNING 1) SELECT count(*) FROM gone";
constexpr const char* kPing = "SELECT 1";

struct Statement {
    const char* name;
    const char* text;
};
constexpr Statement kStatements[] = {{"arrive", kArrive}, {"room", kRoom}, {"purge", kPurge}, {"ping", kPing}};

struct ResultClear {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;

struct Slot {
    PGconn* conn = nullptr;
    bool busy = false;
};

}  // namespace

struct PostgresStore {
    std::string conninfo;
    std::chrono::milliseconds timeout{};
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<Slot> slots;
    std::uint64_t queries = 0;
    double seconds = 0;
    std::array<std::uint64_t, std::size(kStoreLatencyBounds)> buckets{};
};

void PostgresStoreClose::operator()(PostgresStore* store) const {
    for (Slot& slot : store->slots) {
        if (slot.conn) PQfinish(slot.conn);
    }
    delete store;
}

namespace {

std::string pq_error(PGconn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text) c = (c == '\n' || c == '\t') ? ' ' : c;
    return text.empty() ? "the database connection failed" : text;
}

// Waits until the connection's socket is ready, but never past the deadline.
bool wait_socket(PGconn* conn, bool write, Deadline deadline, std::string& error) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            error = "the database did not answer in time";
            return false;
        }
        pollfd fd{PQsocket(conn), static_cast<short>(write ? POLLOUT : POLLIN), 0};
        if (fd.fd < 0) {
            error = pq_error(conn);
            return false;
        }
        int ready = poll(&fd, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) {
            error = "poll failed on the database connection";
            return false;
        }
    }
}

// Sends what libpq holds back in non-blocking mode.
bool flush(PGconn* conn, Deadline deadline, std::string& error) {
    for (;;) {
        int left = PQflush(conn);
        if (left == 0) return true;
        if (left < 0) {
            error = pq_error(conn);
            return false;
        }
        if (!wait_socket(conn, true, deadline, error)) return false;
        if (!PQconsumeInput(conn)) {
            error = pq_error(conn);
            return false;
        }
    }
}

// The last result of what was sent, read without blocking past the deadline;
// null with `error` when it failed or the database said no.
Result collect(PGconn* conn, Deadline deadline, std::string& error) {
    if (!flush(conn, deadline, error)) return nullptr;
    Result last;
    std::string failed;
    for (;;) {
        while (PQisBusy(conn)) {
            if (!wait_socket(conn, false, deadline, error)) return nullptr;
            if (!PQconsumeInput(conn)) {
                error = pq_error(conn);
                return nullptr;
            }
        }
        Result next(PQgetResult(conn));
        if (!next) break;
        ExecStatusType status = PQresultStatus(next.get());
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && failed.empty()) {
            failed = PQresultErrorMessage(next.get());
            if (failed.empty()) failed = PQresStatus(status);
        }
        last = std::move(next);
    }
    if (!failed.empty()) {
        while (!failed.empty() && failed.back() == '\n') failed.pop_back();
        error = failed;
        return nullptr;
    }
    if (!last) error = pq_error(conn);
    return last;
}

bool exec(PGconn* conn, const char* sql, Deadline deadline, std::string& error) {
    if (!PQsendQuery(conn, sql)) {
        error = pq_error(conn);
        return false;
    }
    return collect(conn, deadline, error) != nullptr;
}

bool prepare(PGconn* conn, Deadline deadline, std::string& error) {
    for (const Statement& statement : kStatements) {
        if (!PQsendPrepare(conn, statement.name, statement.text, 0, nullptr) || !collect(conn, deadline, error)) {
            return false;
        }
    }
    return true;
}

// A new connection with its statements prepared (once the schema is there),
// or null with `error`.
PGconn* connect(PostgresStore& store, Deadline deadline, std::string& error, bool prepared = true) {
    const char* keys[] = {"dbname", "fallback_application_name", nullptr};
    const char* values[] = {store.conninfo.c_str(), "vantor-rooms", nullptr};
    PGconn* conn = PQconnectStartParams(keys, values, 1);
    if (!conn || PQstatus(conn) == CONNECTION_BAD) {
        error = pq_error(conn);
        PQfinish(conn);
        return nullptr;
    }
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING; state != PGRES_POLLING_OK;) {
        if (state == PGRES_POLLING_FAILED) {
            error = pq_error(conn);
            PQfinish(conn);
            return nullptr;
        }
        if (!wait_socket(conn, state == PGRES_POLLING_WRITING, deadline, error)) {
            PQfinish(conn);
            return nullptr;
        }
        state = PQconnectPoll(conn);
    }
    PQsetnonblocking(conn, 1);
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);   // "already exists, skipping" and the like
    // The database gives up a little before the caller does, so a slow query
    // ends in an answer and the connection stays usable.
    auto limit = std::max<long long>(1, store.timeout.count() * 4 / 5);
    std::string settings = "SET statement_timeout = " + std::to_string(limit) +
                           "; SET lock_timeout = " + std::to_string(limit) +
                           "; SET idle_in_transaction_session_timeout = " + std::to_string(limit * 5);
    if (!exec(conn, settings.c_str(), deadline, error) || (prepared && !prepare(conn, deadline, error))) {
        if (error.empty()) error = pq_error(conn);
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

void record(PostgresStore& store, Clock::time_point began) {
    double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::lock_guard lock(store.mutex);
    ++store.queries;
    store.seconds += seconds;
    for (std::size_t i = 0; i < std::size(kStoreLatencyBounds); ++i) {
        if (seconds <= kStoreLatencyBounds[i]) ++store.buckets[i];
    }
}

// Runs a prepared statement on a pooled connection. Waiting for a free
// connection, connecting and the query itself share one deadline. A pooled
// connection found broken (the database restarted since its last use) is
// replaced once at once, so the first call after a restart already succeeds.
Result run(PostgresStore& store, const char* statement, const std::vector<std::string>& params, std::string& error) {
    Clock::time_point began = Clock::now();
    Deadline deadline = began + store.timeout;
    std::size_t index = 0;
    {
        std::unique_lock lock(store.mutex);
        auto free_slot = [&] {
            return std::find_if(store.slots.begin(), store.slots.end(), [](const Slot& s) { return !s.busy; });
        };
        if (!store.freed.wait_until(lock, deadline, [&] { return free_slot() != store.slots.end(); })) {
            error = "no database connection free in time";
            return nullptr;
        }
        // A connected slot first: connecting costs a round trip or more.
        auto slot = std::find_if(store.slots.begin(), store.slots.end(),
                                 [](const Slot& s) { return !s.busy && s.conn; });
        if (slot == store.slots.end()) slot = free_slot();
        slot->busy = true;
        index = static_cast<std::size_t>(slot - store.slots.begin());
    }
    PGconn* conn = store.slots[index].conn;   // only this thread touches a busy slot
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    Result result;
    for (int attempt = 0; attempt < 2 && !result; ++attempt) {
        bool reused = conn != nullptr;
        if (!conn) conn = connect(store, deadline, error);
        if (!conn) break;
        error.clear();
        if (PQsendQueryPrepared(conn, statement, static_cast<int>(values.size()), values.data(), nullptr, nullptr,
                                0)) {
            result = collect(conn, deadline, error);
        } else {
            error = pq_error(conn);
        }
        // A connection that broke or overran is not trusted again.
        bool broken = !result && (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) != PQTRANS_IDLE ||
                                  Clock::now() >= deadline);
        if (broken) {
            PQfinish(conn);
            conn = nullptr;
        }
        if (!broken || !reused || Clock::now() >= deadline) break;
    }
    {
        std::lock_guard lock(store.mutex);
        store.slots[index].conn = conn;
        store.slots[index].busy = false;
    }
    store.freed.notify_one();
    record(store, began);
    return result;
}

template <typename Int>
bool parse_int(std::string_view text, Int& value) {
    auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
    return fault == std::errc() && end == text.data() + text.size();
}

// "steamid first_seen steamid first_seen ...", as the room query joins them.
bool read_arrivals(std::string_view text, std::vector<StoredArrival>& arrivals) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(text.find(' ', at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (words.size() % 2) return false;
    for (std::size_t i = 0; i < words.size(); i += 2) {
        StoredArrival arrival;
        if (!parse_int(words[i], arrival.steamid) || !parse_int(words[i + 1], arrival.first_seen)) return false;
        arrivals.push_back(arrival);
    }
    return true;
}

// Brings the schema up to date in one transaction under the migration lock.
bool migrate(PGconn* conn, Deadline deadline, std::string& error) {
    if (!exec(conn,
              ("BEGIN; SET LOCAL lock_timeout = 0; SET LOCAL statement_timeout = 30000;"
               " SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ");"
               " CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)").c_str(),
              deadline, error)) {
        return false;
    }
    Result found;
    if (PQsendQuery(conn, "SELECT coalesce(max(version), 0) FROM schema_version")) {
        found = collect(conn, deadline, error);
    }
    int version = -1;
    if (!found || PQntuples(found.get()) != 1 || !parse_int(PQgetvalue(found.get(), 0, 0), version)) {
        if (error.empty()) error = "the schema version cannot be read";
        return false;
    }
    if (version > kSchemaVersion) {
        error = "the database has schema version " + std::to_string(version) + ", newer than this program's " +
                std::to_string(kSchemaVersion);
        return false;
    }
    for (int step = version; step < kSchemaVersion; ++step) {
        if (!exec(conn, kMigrations[step], deadline, error)) return false;
    }
    std::string stamp = "DELETE FROM schema_version; INSERT INTO schema_version VALUES (" +
                        std::to_string(kSchemaVersion) + "); COMMIT";
    return exec(conn, stamp.c_str(), deadline, error);
}

}  // namespace

PostgresStorePtr postgres_open(const StoreOptions& options, std::string& error) {
    PostgresStorePtr store(new PostgresStore);
    store->conninfo = options.db;
    store->timeout = options.timeout;
    store->slots.resize(static_cast<std::size_t>(std::max(1, options.pool_size)));
    // Starting may wait for another instance's migration.
    Deadline deadline = Clock::now() + std::max<std::chrono::milliseconds>(options.timeout, std::chrono::seconds(30));
    PGconn* conn = connect(*store, deadline, error, false);
    if (!conn) {
        error = "cannot connect to PostgreSQL: " + error;
        return nullptr;
    }
    store->slots[0].conn = conn;
    if (!migrate(conn, deadline, error) || !prepare(conn, deadline, error)) {
        error = "cannot bring the PostgreSQL schema up to date: " + error;
        return nullptr;
    }
    return store;
}

ArriveResult postgres_arrive(PostgresStore& store, const RoomRequest& request, std::int64_t now) {
    ArriveResult out;
    Result result = run(store, "arrive",
                        {request.room_key, request.map, std::to_string(now), request.reservation,
                         stored_members_text(request.members), std::to_string(request.reporter)},
                        out.error);
    if (!result || PQntuples(result.get()) != 1) {
        if (out.error.empty()) out.error = "the database gave no answer";
        return out;
    }
    out.status = StoreStatus::ok;
    out.created = PQgetvalue(result.get(), 0, 0)[0] == 't';
    return out;
}

RoomLookup postgres_room(PostgresStore& store, std::string_view key) {
    RoomLookup out;
    Result result = run(store, "room", {std::string(key)}, out.error);
    if (!result) return out;
    if (PQntuples(result.get()) == 0) {
        out.status = StoreStatus::not_found;
        return out;
    }
    out.room.key = key;
    out.room.map = PQgetvalue(result.get(), 0, 0);
    if (!parse_int(PQgetvalue(result.get(), 0, 1), out.room.created_at) ||
        !read_stored_members(PQgetvalue(result.get(), 0, 2), out.room.members) ||
        !read_arrivals(PQgetvalue(result.get(), 0, 3), out.room.arrivals)) {
        out.error = "the stored room cannot be read";
        out.room = {};
        return out;
    }
    out.status = StoreStatus::ok;
    return out;
}

std::int64_t postgres_purge(PostgresStore& store, std::int64_t before) {
    std::string error;
    Result result = run(store, "purge", {std::to_string(before)}, error);
    std::int64_t count = -1;
    if (result && PQntuples(result.get()) == 1) parse_int(PQgetvalue(result.get(), 0, 0), count);
    return count;
}

bool postgres_healthy(PostgresStore& store, std::string& error) {
    return run(store, "ping", {}, error) != nullptr;
}

StoreStats postgres_stats(PostgresStore& store) {
    StoreStats stats;
    stats.engine = "postgresql";
    std::lock_guard lock(store.mutex);
    stats.pool_size = static_cast<int>(store.slots.size());
    stats.pool_in_use = static_cast<int>(std::count_if(store.slots.begin(), store.slots.end(),
                                                       [](const Slot& s) { return s.busy; }));
    stats.queries = store.queries;
    stats.query_seconds_total = store.seconds;
    stats.latency_buckets.assign(store.buckets.begin(), store.buckets.end());
    return stats;
}
