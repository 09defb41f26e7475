#include "service/options.h"

#include <charconv>

namespace {

bool read_int(const std::string& text, long long low, long long high, long long& value) {
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    return failure == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool read_rate(const std::string& text, double& value) {
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    return failure == std::errc() && end == text.data() + text.size() && value >= 0 && value <= 1e9;
}

// host:port, [v6]:port
bool read_listen(const std::string& text, ServiceOptions& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    long long port = 0;
    if (host.empty() || !read_int(text.substr(colon + 1), 0, 65535, port)) return false;
    options.listen_host = host;
    options.listen_port = static_cast<std::uint16_t>(port);
    return true;
}

}  // namespace

const char* const kServiceUsage =
    "usage: vantor-rooms --public-url URL [options]\n"
    "  --listen HOST:PORT      where to accept connections (default 127.0.0.1:8080)\n"
    "  --db PATH|URI           the SQLite database file (default rooms.db), or PostgreSQL:\n"
    "                          postgresql://user@host/dbname, postgres://... or libpq's key=value form\n"
    "  --db-pool N             database connections: SQLite readers, PostgreSQL connections (default 8)\n"
    "  --db-timeout-ms N       longest wait for the database in one request (default 2000)\n"
    "  --public-url URL        the address players open, e.g. https://rooms.example.org\n"
    "  --keep-days N           delete rooms older than N days (default 30)\n"
    "  --trust-proxy           take the client address from X-Forwarded-For (behind a reverse proxy)\n"
    "  --threads N             network threads (default 2)\n"
    "  --max-connections N     open connections at most (default 1024)\n"
    "  --request-timeout S     longest time to read one request or write its answer (default 10)\n"
    "  --post-rate R --post-burst B   reports per second and burst per client (default 2, 20; 0: no limit)\n"
    "  --get-rate R --get-burst B     pages per second and burst per client (default 20, 60; 0: no limit)\n";

ParsedOptions parse_service_options(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    ServiceOptions& o = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--help" || flag == "-h") {
            o.help = true;
            continue;
        }
        if (flag == "--trust-proxy") {
            o.trust_proxy = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            parsed.error = flag.rfind("--", 0) == 0 ? flag + " needs a value" : "unknown argument: " + flag;
            return parsed;
        }
        const std::string& value = args[++i];
        long long n = 0;
        bool good = true;
        if (flag == "--listen") good = read_listen(value, o);
        else if (flag == "--db") good = !(o.db = value).empty();
        else if (flag == "--db-pool") good = read_int(value, 1, 256, n) && (o.db_pool = static_cast<int>(n), true);
        else if (flag == "--db-timeout-ms")
            good = read_int(value, 1, 60000, n) && (o.db_timeout = std::chrono::milliseconds(n), true);
        else if (flag == "--public-url") {
            o.public_url = value;
            while (!o.public_url.empty() && o.public_url.back() == '/') o.public_url.pop_back();
            good = o.public_url.rfind("http://", 0) == 0 || o.public_url.rfind("https://", 0) == 0;
        } else if (flag == "--keep-days") good = read_int(value, 1, 36500, n) && (o.keep_days = static_cast<int>(n), true);
        else if (flag == "--threads") good = read_int(value, 1, 64, n) && (o.threads = static_cast<int>(n), true);
        else if (flag == "--max-connections")
            good = read_int(value, 1, 1000000, n) && (o.max_connections = static_cast<int>(n), true);
        else if (flag == "--request-timeout")
            good = read_int(value, 1, 3600, n) && (o.request_timeout = std::chrono::seconds(n), true);
        else if (flag == "--post-rate") good = read_rate(value, o.post_rule.per_second);
        else if (flag == "--post-burst") good = read_rate(value, o.post_rule.burst) && o.post_rule.burst >= 1;
        else if (flag == "--get-rate") good = read_rate(value, o.get_rule.per_second);
        else if (flag == "--get-burst") good = read_rate(value, o.get_rule.burst) && o.get_rule.burst >= 1;
        else {
            parsed.error = "unknown argument: " + flag;
            return parsed;
        }
        if (!good) {
            parsed.error = "bad value for " + flag + ": " + value;
            return parsed;
        }
    }
    if (!o.help && o.public_url.empty()) {
        parsed.error = "--public-url is needed (the address players open, e.g. https://rooms.example.org)";
        return parsed;
    }
    parsed.ok = true;
    return parsed;
}
