// The per-run JSON-lines event log with its console echo. Every module that
// reports writes through one EventLog, passed by reference.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

#include <nlohmann/json.hpp>

struct EventLog {
    std::mutex lock;                 // one record or console line at a time
    std::FILE* file = nullptr;       // append, binary; null when unopened
    bool file_good = false;          // false after a write error: records stop
    bool debug = false;              // --debug, always on in --coplay-once
    std::filesystem::path path;      // of the open file; empty when none
    std::int64_t start = 0;          // monotonic ns, zero of the console prefix

    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
};

// Creates the folder (errors ignored) and opens "agent-YYYYMMDD-HHMMSS.jsonl"
// in it for appending. True on success, with `path` set.
bool log_open(EventLog& log, const std::filesystem::path& folder);

// One record (keys in byte order; object data merged, other non-null data
// under "value") and, when console_text is not empty, one console line
// "[%7.1fs] text". Invalid UTF-8 anywhere is replaced, never fatal. The
// console text is shown through printable_text; the record keeps the bytes.
void log_event(EventLog& log, std::string_view name, const nlohmann::json& data,
               std::string_view console_text);

// As log_event, but only when log.debug is set; otherwise nothing at all.
void log_debug_event(EventLog& log, std::string_view name, const nlohmann::json& data,
                     std::string_view console_text);

// A plain console line: no time prefix, no record. Like an event's console
// text it goes through printable_text.
void log_console(EventLog& log, std::string_view text);

// The pieces of a record, for tests and for tools that read the log back.
nlohmann::json event_record(std::string_view name, const nlohmann::json& data,
                            std::int64_t unix_100ns);
std::string console_prefix(double seconds);   // "[%7.1fs] "
