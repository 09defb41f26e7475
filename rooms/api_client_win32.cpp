// The API client over WinHTTP in its synchronous mode: one session per run,
// one connection and one request handle per POST. Each POST runs on a worker
// thread of its own while the caller waits in short slices, so Ctrl+C never
// waits for the server: on the stop flag the caller closes the request handle
// (which ends a blocked WinHTTP call) and returns without the worker.
#include "rooms/api_client.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/stop_flag.h"
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

// One POST, shared by the caller and the worker; whoever finishes last frees it.
struct PostJob {
    HINTERNET session = nullptr;
    std::wstring host;
    std::wstring object_name;
    INTERNET_PORT port = 0;
    bool secure = false;
    std::string body;

    std::mutex lock;
    std::condition_variable finished_signal;
    HINTERNET request = nullptr;   // while the worker may block on it
    bool abandoned = false;        // the caller left on the stop flag
    bool request_closed = false;   // ... and closed the request handle
    bool finished = false;
    ApiResponse result;
};

// Reads the body into `out`, at most kApiMaxAnswerBytes of it.
void read_body(HINTERNET request, ApiResponse& out) {
    std::vector<char> chunk;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            out.error = call_failed("WinHttpQueryDataAvailable");
            return;
        }
        if (available == 0) {
            out.ok = complete_body(request, out.body, out.error);
            return;
        }
        // One byte beyond the limit is enough to know the answer is too long.
        const std::size_t room = kApiMaxAnswerBytes + 1 - out.body.size();
        if (available > room) available = static_cast<DWORD>(room);
        chunk.resize(available);
        DWORD read = 0;
        if (!WinHttpReadData(request, chunk.data(), available, &read)) {
            out.error = call_failed("WinHttpReadData");
            return;
        }
        if (read == 0) {
            out.ok = complete_body(request, out.body, out.error);
            return;
        }
        if (out.body.size() + read > kApiMaxAnswerBytes) {
            out.error = kApiAnswerTooLong;
            return;
        }
        out.body.append(chunk.data(), read);
    }
}

void run_post(PostJob& job) {
    ApiResponse out;
    HINTERNET connection = WinHttpConnect(job.session, job.host.c_str(), job.port, 0);
    if (!connection) {
        out.error = call_failed("WinHttpConnect");
    } else {
        HINTERNET request = WinHttpOpenRequest(connection, L"POST", job.object_name.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               job.secure ? WINHTTP_FLAG_SECURE : 0);
        if (!request) {
            out.error = call_failed("WinHttpOpenRequest");
        } else {
            {
                std::lock_guard<std::mutex> guard(job.lock);
                job.request = request;
                if (job.abandoned) {   // the caller left before the request existed
                    WinHttpCloseHandle(request);
                    job.request_closed = true;
                }
            }
            // Waiting for the status line and headers has its own limit (90 s by
            // default); the receive time-out bounds it too, so no phase of a POST
            // lasts longer than the session's time-outs.
            DWORD response_timeout = kApiReceiveTimeoutMs;
            WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                             sizeof(response_timeout));
            const DWORD length = static_cast<DWORD>(job.body.size());
            LPVOID data = length ? const_cast<char*>(job.body.data()) : WINHTTP_NO_REQUEST_DATA;
            DWORD code = 0;
            DWORD code_size = sizeof(code);
            if (!WinHttpSendRequest(request, L"Content-Type: application/json\r\n", DWORD(-1), data, length,
                                    length, 0)) {
                out.error = call_failed("WinHttpSendRequest");
            } else if (!WinHttpReceiveResponse(request, nullptr)) {
                out.error = call_failed("WinHttpReceiveResponse");
            } else if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &code_size,
                                            WINHTTP_NO_HEADER_INDEX)) {
                out.error = call_failed("WinHttpQueryHeaders");
            } else {
                out.status = code;
                read_body(request, out);
            }
            std::lock_guard<std::mutex> guard(job.lock);
            // A caller that gave up has closed the request handle already.
            if (!job.request_closed) WinHttpCloseHandle(request);
            job.request = nullptr;
        }
        WinHttpCloseHandle(connection);
    }
    std::lock_guard<std::mutex> guard(job.lock);
    job.result = std::move(out);
    job.finished = true;
    job.finished_signal.notify_all();
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

ApiResponse api_post(const ApiClient& client, std::string_view path, std::string_view body) {
    ApiResponse out;
    if (!client.session) {
        out.error = "the API client is not initialised";
        return out;
    }
    if (body.size() > 0xFFFFFFFFu) {
        out.error = "the request body is too large";
        return out;
    }
    auto job = std::make_shared<PostJob>();
    job->session = client.session;
    job->host = utf8_to_wide(client.host);
    job->object_name = utf8_to_wide(client.base_path) + utf8_to_wide(path);
    job->port = client.port;
    job->secure = client.secure;
    job->body = std::string(body);
    try {
        std::thread([job] { run_post(*job); }).detach();
    } catch (const std::system_error&) {
        out.error = "the request could not be started (no thread)";
        return out;
    }

    std::unique_lock<std::mutex> guard(job->lock);
    while (!job->finished) {
        if (stop_requested()) {
            // Closing the handle ends a blocked WinHTTP call; a worker still
            // inside one finishes on its own and frees the job.
            if (job->request) {
                WinHttpCloseHandle(job->request);
                job->request_closed = true;
            }
            job->abandoned = true;
            out.stopped = true;
            out.error = kApiStopped;
            return out;
        }
        job->finished_signal.wait_for(guard, std::chrono::milliseconds(kApiStopCheckMs));
    }
    return std::move(job->result);
}

void api_client_close(ApiClient& client) {
    if (client.session) WinHttpCloseHandle(static_cast<HINTERNET>(client.session));
    client.session = nullptr;
    client.host.clear();
    client.base_path.clear();
}
