// The command line of vantor-rooms.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "service/rate_limit.h"

struct ServiceOptions {
    std::string listen_host = "127.0.0.1";
    std::uint16_t listen_port = 8080;
    std::string db = "rooms.db";
    int db_pool = 8;
    std::chrono::milliseconds db_timeout{2000};
    std::string public_url;          // without trailing '/'
    int keep_days = 30;
    bool trust_proxy = false;        // take the client from X-Forwarded-For
    int threads = 2;                 // network threads
    int max_connections = 1024;
    std::chrono::seconds request_timeout{10};   // to read one whole request, or to write an answer
    BucketRule post_rule{2, 20};     // per client: a LAN of ten agents fits the burst
    BucketRule get_rule{20, 60};
    bool help = false;
};

struct ParsedOptions {
    bool ok = false;
    ServiceOptions options;
    std::string error;
};
ParsedOptions parse_service_options(const std::vector<std::string>& args);

extern const char* const kServiceUsage;
