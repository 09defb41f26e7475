// The API client over libcurl: the session is an easy handle that carries the
// settings of every request; each POST runs on a copy of it with a fresh
// connection, so nothing is reused between attempts, through a multi handle
// so that the stop flag is seen while the server keeps it waiting.
#include "rooms/api_client.h"

#include <curl/curl.h>

#include <mutex>

#include "core/clock.h"
#include "core/stop_flag.h"

namespace {

std::string call_failed(const char* call, long code) {
    return std::string(call) + " failed, CURLcode=" + std::to_string(code);
}

// What went wrong, in the player's words; curl's own text for the rest.
std::string curl_error_text(CURLcode code) {
    const char* words = nullptr;
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST: words = "the server's name could not be resolved"; break;
        case CURLE_COULDNT_CONNECT: words = "the server could not be reached (nothing answered the connection)"; break;
        case CURLE_OPERATION_TIMEDOUT: words = "the server did not answer in time"; break;
        case CURLE_GOT_NOTHING: words = "the server closed the connection without an answer"; break;
        case CURLE_PARTIAL_FILE: words = "the answer ended before all the bytes it announced"; break;
        case CURLE_RECV_ERROR: words = "the connection broke while the answer was read"; break;
        case CURLE_SEND_ERROR: words = "the connection broke while the request was sent"; break;
        case CURLE_WEIRD_SERVER_REPLY: words = "the server's answer is not HTTP"; break;
        case CURLE_TOO_MANY_REDIRECTS: words = "the server redirected too often"; break;
        case CURLE_UNSUPPORTED_PROTOCOL: words = "the server redirected to a link that is not http or https"; break;
        case CURLE_SSL_CONNECT_ERROR: words = "the secure connection could not be set up"; break;
        case CURLE_PEER_FAILED_VERIFICATION: words = "the server's certificate was not accepted"; break;
        default: words = curl_easy_strerror(code); break;
    }
    return std::string(words) + " (curl error " + std::to_string(static_cast<long>(code)) + ")";
}

// Keeps at most kApiMaxAnswerBytes; one byte more ends the transfer.
struct BodySink {
    std::string* body = nullptr;
    bool too_long = false;
};

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& sink = *static_cast<BodySink*>(user);
    const std::size_t bytes = size * count;
    if (bytes > kApiMaxAnswerBytes - sink.body->size()) {
        sink.too_long = true;
        return 0;   // curl ends the transfer with a write error
    }
    sink.body->append(data, bytes);
    return bytes;
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

// Runs the transfer through a multi handle, waking at least every
// kApiStopCheckMs, so the stop flag ends it whatever the server does (a
// blocking easy transfer would wait for its time-outs). The transfer's
// result, or CURLE_ABORTED_BY_CALLBACK when the stop flag ended it.
CURLcode perform_stoppable(CURL* request, bool& stopped, std::string& error) {
    CURLM* multi = curl_multi_init();
    if (!multi) {
        error = call_failed("curl_multi_init", CURLE_OUT_OF_MEMORY);
        return CURLE_OUT_OF_MEMORY;
    }
    CURLcode result = CURLE_OK;
    if (curl_multi_add_handle(multi, request) != CURLM_OK) {
        error = call_failed("curl_multi_add_handle", CURLE_FAILED_INIT);
        curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    for (;;) {
        int running = 0;
        CURLMcode step = curl_multi_perform(multi, &running);
        if (step == CURLM_OK && running == 0) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE && message->easy_handle == request)
                    result = message->data.result;
            break;
        }
        if (step == CURLM_OK && stop_requested()) {
            stopped = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (step == CURLM_OK) step = curl_multi_poll(multi, nullptr, 0, kApiStopCheckMs, nullptr);
        if (step != CURLM_OK) {
            error = std::string("curl_multi failed: ") + curl_multi_strerror(step);
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(multi, request);
    curl_multi_cleanup(multi);
    return result;
}

// Rebuilds the authority for the request URL; an IPv6 literal gets its brackets back.
std::string origin_of(const ApiClient& client) {
    const std::string& host = client.host;
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

ApiResponse api_post(const ApiClient& client, std::string_view path, std::string_view body) {
    ApiResponse out;
    if (!client.session) {
        out.error = "the API client is not initialised";
        return out;
    }
    CURL* request = curl_easy_duphandle(static_cast<CURL*>(client.session));
    if (!request) {
        out.error = call_failed("curl_easy_duphandle", CURLE_OUT_OF_MEMORY);
        return out;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    // curl would otherwise wait for "100 Continue" on larger bodies; WinHTTP never does.
    if (headers) headers = curl_slist_append(headers, "Expect:");
    if (!headers) {
        curl_easy_cleanup(request);
        out.error = call_failed("curl_slist_append", CURLE_OUT_OF_MEMORY);
        return out;
    }
    const std::string url = origin_of(client) + client.base_path + std::string(path);
    BodySink sink{&out.body};
    IdleWatch watch;
    watch.request = request;
    CURLcode code = curl_easy_setopt(request, CURLOPT_URL, url.c_str());
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_HTTPHEADER, headers);
    if (code == CURLE_OK)
        code = curl_easy_setopt(request, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_POSTFIELDS, body.data());
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_WRITEFUNCTION, append_body);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_WRITEDATA, &sink);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_XFERINFOFUNCTION, watch_idle);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_XFERINFODATA, &watch);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_NOPROGRESS, 0L);
    if (code != CURLE_OK) {
        out.error = call_failed("curl_easy_setopt", code);
    } else {
        code = perform_stoppable(request, out.stopped, out.error);
        if (code == CURLE_ABORTED_BY_CALLBACK && watch.timed_out) code = CURLE_OPERATION_TIMEDOUT;
        // The status stays known when the exchange broke off after the headers.
        long http_code = 0;
        if (curl_easy_getinfo(request, CURLINFO_RESPONSE_CODE, &http_code) == CURLE_OK && http_code > 0)
            out.status = static_cast<std::uint32_t>(http_code);
        if (out.stopped)
            out.error = kApiStopped;
        else if (sink.too_long)
            out.error = kApiAnswerTooLong;
        else if (code != CURLE_OK && out.error.empty())
            out.error = curl_error_text(code);
        out.ok = code == CURLE_OK && out.error.empty();
    }
    curl_easy_cleanup(request);
    curl_slist_free_all(headers);
    return out;
}

void api_client_close(ApiClient& client) {
    if (client.session) curl_easy_cleanup(static_cast<CURL*>(client.session));
    client.session = nullptr;
    client.host.clear();
    client.base_path.clear();
}
