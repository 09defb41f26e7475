// The API client over libcurl: the session is an easy handle that carries the
// settings of every request; each POST runs on a copy of it with a fresh
// connection, so nothing is reused between attempts.
#include "rooms/api_client.h"

#include <curl/curl.h>

#include <mutex>

#include "core/clock.h"
#include "core/text.h"

namespace {

std::string call_failed(const char* call, long code) {
    return std::string(call) + " failed, CURLcode=" + std::to_string(code);
}

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The send and receive time-outs: once connected, a transfer in which no byte
// moved either way for that long is given up. curl's own low-speed limit
// averages over a window and lets a silent server run on for far longer.
struct IdleWatch {
    CURL* request = nullptr;
    bool connected = false;
    bool timed_out = false;
    std::int64_t since_ns = 0;
    curl_off_t received = -1;
    curl_off_t sent = -1;
};

int watch_idle(void* user, curl_off_t, curl_off_t received, curl_off_t to_send, curl_off_t sent) {
    auto& watch = *static_cast<IdleWatch*>(user);
    const std::int64_t now = monotonic_ns();
    if (!watch.connected) {
        curl_off_t connect_time = 0;
        if (curl_easy_getinfo(watch.request, CURLINFO_CONNECT_TIME_T, &connect_time) != CURLE_OK ||
            connect_time <= 0)
            return 0;
        watch.connected = true;
        watch.since_ns = now;
    }
    if (received != watch.received || sent != watch.sent) {
        watch.received = received;
        watch.sent = sent;
        watch.since_ns = now;
        return 0;
    }
    const std::int64_t limit_ms = sent < to_send ? kApiSendTimeoutMs : kApiReceiveTimeoutMs;
    if ((now - watch.since_ns) / 1000000 < limit_ms) return 0;
    watch.timed_out = true;
    return 1;
}

// Rebuilds the authority for the request URL; an IPv6 literal gets its brackets back.
std::string origin_of(const ApiClient& client) {
    const std::string host = wide_to_utf8(client.host);
    const bool ipv6 = host.find(':') != std::string::npos;
    return std::string(client.secure ? "https://" : "http://") + (ipv6 ? "[" + host + "]" : host) + ":" +
           std::to_string(client.port);
}

}  // namespace

bool api_session_open(ApiClient& client, std::string& error) {
    static std::once_flag once;
    static CURLcode global = CURLE_OK;
    std::call_once(once, [] { global = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (global != CURLE_OK) {
        error = call_failed("curl_global_init", global);
        return false;
    }
    CURL* session = curl_easy_init();
    if (!session) {
        error = call_failed("curl_easy_init", CURLE_FAILED_INIT);
        return false;
    }
    // WinHTTP has separate resolve and connect limits; curl's connect limit
    // covers both. The send and receive limits are idle times, kept by
    // watch_idle; the overall limit is the sum of all four.
    curl_easy_setopt(session, CURLOPT_USERAGENT, kApiUserAgent);
    curl_easy_setopt(session, CURLOPT_CONNECTTIMEOUT_MS, long(kApiResolveTimeoutMs + kApiConnectTimeoutMs));
    curl_easy_setopt(session, CURLOPT_TIMEOUT_MS, long(kApiResolveTimeoutMs + kApiConnectTimeoutMs +
                                                       kApiSendTimeoutMs + kApiReceiveTimeoutMs));
    curl_easy_setopt(session, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(session, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed as WinHTTP does by default: at most ten, never
    // from https down to http.
    curl_easy_setopt(session, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(session, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(session, CURLOPT_REDIR_PROTOCOLS_STR, client.secure ? "https" : "http,https");
    curl_easy_setopt(session, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(session, CURLOPT_FORBID_REUSE, 1L);
    client.session = session;
    return true;
}

bool api_post(const ApiClient& client, std::string_view path, std::string_view body,
              std::uint32_t& status, std::string& response, std::string& error) {
    status = 0;
    response.clear();
    if (!client.session) {
        error = "the API client is not initialised";
        return false;
    }
    CURL* request = curl_easy_duphandle(static_cast<CURL*>(client.session));
    if (!request) {
        error = call_failed("curl_easy_duphandle", CURLE_OUT_OF_MEMORY);
        return false;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    // curl would otherwise wait for "100 Continue" on larger bodies; WinHTTP never does.
    if (headers) headers = curl_slist_append(headers, "Expect:");
    if (!headers) {
        curl_easy_cleanup(request);
        error = call_failed("curl_slist_append", CURLE_OUT_OF_MEMORY);
        return false;
    }
    const std::string url = origin_of(client) + wide_to_utf8(client.base_path) + std::string(path);
    bool ok = false;
    CURLcode code = curl_easy_setopt(request, CURLOPT_URL, url.c_str());
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_HTTPHEADER, headers);
    if (code == CURLE_OK)
        code = curl_easy_setopt(request, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_POSTFIELDS, body.data());
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_WRITEFUNCTION, append_body);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_WRITEDATA, &response);
    IdleWatch watch;
    watch.request = request;
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_XFERINFOFUNCTION, watch_idle);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_XFERINFODATA, &watch);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_NOPROGRESS, 0L);
    if (code != CURLE_OK) {
        error = call_failed("curl_easy_setopt", code);
    } else {
        code = curl_easy_perform(request);
        if (code == CURLE_ABORTED_BY_CALLBACK && watch.timed_out) code = CURLE_OPERATION_TIMEDOUT;
        // The status stays known when the exchange broke off after the headers.
        long http_code = 0;
        if (curl_easy_getinfo(request, CURLINFO_RESPONSE_CODE, &http_code) == CURLE_OK && http_code > 0)
            status = static_cast<std::uint32_t>(http_code);
        if (code != CURLE_OK)
            error = call_failed("curl_easy_perform", code);
        else
            ok = true;
    }
    curl_easy_cleanup(request);
    curl_slist_free_all(headers);
    return ok;
}

void api_client_close(ApiClient& client) {
    if (client.session) curl_easy_cleanup(static_cast<CURL*>(client.session));
    client.session = nullptr;
    client.host.clear();
    client.base_path.clear();
}
