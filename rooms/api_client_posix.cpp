// The API client over libcurl: the session is an easy handle that carries the
// settings of every request; each POST runs on a copy of it with a fresh
// connection, so nothing is reused between attempts.
#include "rooms/api_client.h"

#include <curl/curl.h>

#include <mutex>

#include "core/text.h"

namespace {

std::string call_failed(const char* call, long code) {
    return std::string(call) + " failed, CURLcode=" + std::to_string(code);
}

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
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
    // covers both. Sending and receiving give up after the same idle time.
    curl_easy_setopt(session, CURLOPT_USERAGENT, api_user_agent);
    curl_easy_setopt(session, CURLOPT_CONNECTTIMEOUT_MS, long(api_resolve_timeout_ms + api_connect_timeout_ms));
    curl_easy_setopt(session, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(session, CURLOPT_LOW_SPEED_TIME, long((api_send_timeout_ms > api_receive_timeout_ms
                                                                ? api_send_timeout_ms
                                                                : api_receive_timeout_ms) / 1000));
    curl_easy_setopt(session, CURLOPT_TIMEOUT_MS, long(api_resolve_timeout_ms + api_connect_timeout_ms +
                                                       api_send_timeout_ms + api_receive_timeout_ms));
    curl_easy_setopt(session, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(session, CURLOPT_PROTOCOLS_STR, "http,https");
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
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_POSTFIELDS, body.data());
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_WRITEFUNCTION, append_body);
    if (code == CURLE_OK) code = curl_easy_setopt(request, CURLOPT_WRITEDATA, &response);
    if (code != CURLE_OK) {
        error = call_failed("curl_easy_setopt", code);
    } else {
        code = curl_easy_perform(request);
        // The status stays known when the exchange broke off after the headers.
        long http_code = 0;
        if (curl_easy_getinfo(request, CURLINFO_RESPONSE_CODE, &http_code) == CURLE_OK && http_code > 0)
            status = std::uint32_t(http_code);
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
