// The API client over WinHTTP in its synchronous mode: one session per run,
// one connection and one request handle per POST.
#include "rooms/api_client.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "core/text.h"

namespace {

std::string call_failed(const char* call) {
    const DWORD code = GetLastError();
    return std::string(call) + " failed, GetLastError=" + std::to_string(static_cast<unsigned long>(code));
}

// A connection that closes before the announced length reads like a normal
// end of the body; a cut answer must not pass for a whole one.
bool complete_body(HINTERNET request, const std::string& body, std::string& error) {
    DWORD announced = 0;
    DWORD size = sizeof(announced);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size, WINHTTP_NO_HEADER_INDEX))
        return true;  // no length announced: the body ends with the connection
    if (body.size() >= announced) return true;
    error = "WinHttpReadData failed, the answer ended after " + std::to_string(body.size()) + " of " +
            std::to_string(static_cast<unsigned long>(announced)) + " announced bytes";
    return false;
}

}  // namespace

bool api_session_open(ApiClient& client, std::string& error) {
    const std::wstring agent = utf8_to_wide(kApiUserAgent);
    HINTERNET session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        error = call_failed("WinHttpOpen");
        return false;
    }
    // Not checked: the defaults are usable if the system refuses these.
    WinHttpSetTimeouts(session, kApiResolveTimeoutMs, kApiConnectTimeoutMs, kApiSendTimeoutMs,
                       kApiReceiveTimeoutMs);
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
    if (body.size() > 0xFFFFFFFFu) {
        error = "the request body is too large";
        return false;
    }

    HINTERNET connection = WinHttpConnect(client.session, client.host.c_str(), client.port, 0);
    if (!connection) {
        error = call_failed("WinHttpConnect");
        return false;
    }
    const std::wstring object_name = client.base_path + utf8_to_wide(path);
    HINTERNET request = WinHttpOpenRequest(connection, L"POST", object_name.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           client.secure ? WINHTTP_FLAG_SECURE : 0);
    bool ok = false;
    if (!request) {
        error = call_failed("WinHttpOpenRequest");
    } else {
        // Waiting for the status line and headers has its own limit (90 s by
        // default); the receive time-out bounds it too, so no phase of a POST
        // blocks the main loop for longer than the session's time-outs.
        DWORD response_timeout = kApiReceiveTimeoutMs;
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                         sizeof(response_timeout));
        const DWORD length = static_cast<DWORD>(body.size());
        LPVOID data = length ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA;
        DWORD code = 0;
        DWORD code_size = sizeof(code);
        if (!WinHttpSendRequest(request, L"Content-Type: application/json\r\n", DWORD(-1), data, length,
                                length, 0)) {
            error = call_failed("WinHttpSendRequest");
        } else if (!WinHttpReceiveResponse(request, nullptr)) {
            error = call_failed("WinHttpReceiveResponse");
        } else if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                        WINHTTP_HEADER_NAME_BY_INDEX, &code, &code_size,
                                        WINHTTP_NO_HEADER_INDEX)) {
            error = call_failed("WinHttpQueryHeaders");
        } else {
            status = code;
            // Each chunk goes into a buffer of exactly the announced size.
            std::vector<char> chunk;
            for (;;) {
                DWORD available = 0;
                if (!WinHttpQueryDataAvailable(request, &available)) {
                    error = call_failed("WinHttpQueryDataAvailable");
                    break;
                }
                if (available == 0) {
                    ok = complete_body(request, response, error);
                    break;
                }
                chunk.resize(available);
                DWORD read = 0;
                if (!WinHttpReadData(request, chunk.data(), available, &read)) {
                    error = call_failed("WinHttpReadData");
                    break;
                }
                if (read == 0) {
                    ok = complete_body(request, response, error);
                    break;
                }
                response.append(chunk.data(), read);
            }
        }
        WinHttpCloseHandle(request);
    }
    WinHttpCloseHandle(connection);
    return ok;
}

void api_client_close(ApiClient& client) {
    if (client.session) WinHttpCloseHandle(static_cast<HINTERNET>(client.session));
    client.session = nullptr;
    client.host.clear();
    client.base_path.clear();
}
