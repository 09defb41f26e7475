#include "core/event_log.h"

#include <cstdio>
#include <string>
#include <system_error>

#include "core/clock.h"
#include "core/files.h"
#include "core/text.h"

EventLog::EventLog() : start(monotonic_ns()) {}

EventLog::~EventLog() {
    if (file) std::fclose(file);
}

static std::string two_digits(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

bool log_open(EventLog& log, const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const CivilTime now = local_time(unix_now()).value_or(CivilTime{});
    char name[64];
    std::snprintf(name, sizeof name, "agent-%04d%02d%02d-%02d%02d%02d.jsonl", now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    const std::filesystem::path path = folder / path_from_utf8(name);
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.file) std::fclose(log.file);
    log.file = open_for_append(path);
    log.file_good = log.file != nullptr;
    log.path = log.file ? path : std::filesystem::path();
    return log.file != nullptr;
}

nlohmann::json event_record(std::string_view name, const nlohmann::json& data,
                            std::int64_t unix_100ns) {
    std::int64_t seconds = unix_100ns / 10000000;
    std::int64_t rest = unix_100ns % 10000000;
    if (rest < 0) { rest += 10000000; --seconds; }
    const CivilTime utc = utc_time(seconds).value_or(CivilTime{});
    const CivilTime local = local_time(seconds).value_or(CivilTime{});
    char ts[40];
    std::snprintf(ts, sizeof ts, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.year, utc.month, utc.day,
                  utc.hour, utc.minute, utc.second, static_cast<int>(rest / 10000));
    const std::string local_text = two_digits(local.month) + "/" + two_digits(local.day) + " " +
                                   two_digits(local.hour) + ":" + two_digits(local.minute) + ":" +
                                   two_digits(local.second);
    nlohmann::json record = nlohmann::json::object();
    if (data.is_object()) {
        for (auto it = data.begin(); it != data.end(); ++it) record[it.key()] = it.value();
    } else if (!data.is_null()) {
        record["value"] = data;
    }
    record["ts"] = ts;
    record["local"] = local_text;
    record["event"] = std::string(name);
    return record;
}

std::string console_prefix(double seconds) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "[%7.1fs] ", seconds);
    return buffer;
}

static void write_stdout(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void log_event(EventLog& log, std::string_view name, const nlohmann::json& data,
               std::string_view console_text) {
    const nlohmann::json record = event_record(name, data, unix_now_100ns());
    // A name cut mid-character must not stop the program: replace, never throw.
    std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line += '\n';
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.file && log.file_good) {
        if (std::fwrite(line.data(), 1, line.size(), log.file) != line.size() ||
            std::fflush(log.file) != 0)
            log.file_good = false;
    }
    if (!console_text.empty()) {
        const double seconds = static_cast<double>(monotonic_ns() - log.start) / 1e9;
        write_stdout(console_prefix(seconds) + printable_text(console_text) + "\n");
    }
}

void log_debug_event(EventLog& log, std::string_view name, const nlohmann::json& data,
                     std::string_view console_text) {
    if (log.debug) log_event(log, name, data, console_text);
}

void log_console(EventLog& log, std::string_view text) {
    std::string line = printable_text(text);
    line += '\n';
    std::lock_guard<std::mutex> guard(log.lock);
    write_stdout(line);
}
