// The HTTP client of the room API: one session per run, POSTs of a JSON body,
// the status code and the body read back. WinHTTP on Windows, libcurl
// elsewhere; both give the same results and error texts of the same shape.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct ApiClient {
    std::wstring host;
    std::wstring base_path;      // the base URL's path, every trailing '/' removed
    std::uint16_t port = 0;      // 80 or 443 when the base URL names none
    bool secure = false;         // https
    void* session = nullptr;     // the platform's session handle; null until init succeeded
};

// Every request names itself with this, and gives up a phase after these times.
inline constexpr const char* kApiUserAgent = "vantor-agent/0.1";
inline constexpr int kApiResolveTimeoutMs = 5000;
inline constexpr int kApiConnectTimeoutMs = 5000;
inline constexpr int kApiSendTimeoutMs = 5000;
inline constexpr int kApiReceiveTimeoutMs = 5000;

// The pieces of a base URL as the client uses them. The scheme is kept as
// written; the port is 0 when the URL names none.
struct BaseUrlParts {
    std::string scheme;
    std::string host;            // without the brackets of an IPv6 literal
    std::uint16_t port = 0;
    std::string path;            // from the first '/' after the host, as written
};

// Splits a base URL without touching the network. False for text that is not a
// URL (no "scheme://", a bad scheme, a bad port, blanks or control characters
// in the authority); the scheme and an empty host are judged by the caller.
bool crack_base_url(std::string_view url, BaseUrlParts& parts);

// Checks and splits the base URL, then opens the session. A failed init leaves
// no session; the fields set before the failure stay as they are.
bool api_client_init(ApiClient& client, std::string_view base_url, std::string& error);

// POSTs `body` as application/json to the base path followed by `path`.
// True only when the whole exchange succeeded and the body was read to its end;
// the status is not judged, so a 4xx or 5xx answer is a success here. On
// failure the status and the part of the body read so far stay in the outputs.
bool api_post(const ApiClient& client, std::string_view path, std::string_view body,
              std::uint32_t& status, std::string& response, std::string& error);

// Closes the session if there is one and clears the strings.
void api_client_close(ApiClient& client);

// Platform half of api_client_init: opens the session for a client whose
// fields are set. Fills `error` on failure.
bool api_session_open(ApiClient& client, std::string& error);
