// One JSON line per answered request on stdout, for journald or a file.
// Escaped ASCII only: a hostile path or address cannot put a control
// character or a broken byte into the log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct AccessRecord {
    std::int64_t time_ms = 0;   // wall clock, milliseconds since 1970
    std::string_view client;
    std::string_view method;
    std::string_view target;
    const char* route = "";
    unsigned status = 0;
    std::size_t bytes = 0;      // body bytes sent
    double seconds = 0;
    std::string_view detail;    // why, for refusals
};

std::string access_line(const AccessRecord& record);

// Writes one line to stdout, whole, from any thread.
void write_access_line(const AccessRecord& record);
