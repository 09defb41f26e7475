#include "service/access_log.h"

#include <cstdio>
#include <mutex>

#include <nlohmann/json.hpp>

namespace {

// Long targets are cut: a log line stays a line.
constexpr std::size_t kMaxLoggedTarget = 512;

}  // namespace

std::string access_line(const AccessRecord& r) {
    nlohmann::json line{{"time_ms", r.time_ms},
                        {"client", r.client},
                        {"method", r.method},
                        {"target", r.target.substr(0, kMaxLoggedTarget)},
                        {"route", r.route},
                        {"status", r.status},
                        {"bytes", r.bytes},
                        {"ms", static_cast<double>(static_cast<std::int64_t>(r.seconds * 1e6)) / 1e3}};
    if (!r.detail.empty()) line["detail"] = r.detail;
    return line.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
}

void write_access_line(const AccessRecord& record) {
    static std::mutex lock;
    const std::string line = access_line(record);
    std::lock_guard<std::mutex> guard(lock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
