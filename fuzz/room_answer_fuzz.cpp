// The room API's answer to POST /v1/matches, served by a loopback server in
// this process and read by post_room over the real client: the first byte
// picks the status, the rest is the body. Whatever the answer, a room cfg
// written for it must stay the six lines the game expects, with the link
// inside the echo quotes and nothing the console would run as a command.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "core/event_log.h"
#include "core/files.h"
#include "core/match_state.h"
#include "fuzz/fuzz_support.h"
#include "rooms/api_client.h"
#include "rooms/room_creation.h"
#include "rooms/room_link.h"
#include "rooms/room_persistence.h"

namespace {

std::mutex answer_lock;
std::string answer;   // the whole HTTP answer for the next request

// Reads one request (head and Content-Length body), sends `answer`, closes.
void serve(int listener) {
    for (;;) {
        const int s = ::accept(listener, nullptr, nullptr);
        if (s < 0) continue;
        std::string request;
        char buffer[4096];
        std::size_t need = std::string::npos;
        while (need == std::string::npos || request.size() < need) {
            const ssize_t got = ::recv(s, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.append(buffer, static_cast<std::size_t>(got));
            const std::size_t head_end = request.find("\r\n\r\n");
            if (need == std::string::npos && head_end != std::string::npos) {
                const std::size_t at = request.find("Content-Length: ");
                need = head_end + 4 + (at < head_end ? std::strtoul(request.c_str() + at + 16, nullptr, 10) : 0);
            }
        }
        std::string reply;
        {
            std::lock_guard<std::mutex> hold(answer_lock);
            reply = answer;
        }
        for (std::size_t sent = 0; sent < reply.size();) {
            const ssize_t put = ::send(s, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (put <= 0) break;
            sent += static_cast<std::size_t>(put);
        }
        ::shutdown(s, SHUT_WR);
        ::close(s);
    }
}

std::uint16_t start_server() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        std::abort();
    std::thread(serve, listener).detach();
    return ntohs(address.sin_port);
}

ApiClient& client() {
    static ApiClient c = [] {
        ApiClient made;
        std::string error;
        if (!api_client_init(made, "http://127.0.0.1:" + std::to_string(start_server()), error)) std::abort();
        return made;
    }();
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int statuses[] = {200, 201, 200, 204, 299, 400, 404, 500, 503, 201};
    const int status = size > 0 ? statuses[data[0] % 10] : 200;
    const std::string body(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
    {
        std::lock_guard<std::mutex> hold(answer_lock);
        answer = "HTTP/1.1 " + std::to_string(status) + " Answer\r\nContent-Type: application/json\r\n" +
                 "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    static EventLog log;
    const std::filesystem::path& folder = fuzz_scratch_folder();
    const std::filesystem::path cfg = folder / "vantor_room.cfg";
    std::error_code ignored;
    std::filesystem::remove(cfg, ignored);

    MatchState match;
    match.room_key = "0123456789abcdef0123456789abcdef";
    match.reservation = "1:2:3:4";
    match.map = "de_mirage";
    match.payload = "{}";
    RoomPostOptions options;
    options.data_folder = folder;
    post_room(log, client(), match, folder, options);

    if (status >= 200 && status <= 299 && !match.done) std::abort();
    if (const auto text = read_whole_file(cfg)) {
        if (!room_link_is_safe(match.room_url) || *text != room_cfg_text(match.room_url)) std::abort();
        std::size_t lines = 0, quotes = 0;
        for (char c : *text) {
            lines += c == '\n';
            quotes += c == '"';
            if (c == '\r' || c == ';') std::abort();
        }
        if (lines != 6 || quotes != 6) std::abort();
    }
    return 0;
}
