// Process list and port probe of the start-up checks, POSIX side: the game's
// process is "cs2" and the process list is /proc.
#include "steam/preflight.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <system_error>

#include "core/files.h"
#include "core/port_range.h"
#include "core/text.h"

namespace fs = std::filesystem;

bool is_cs2_running() {
    std::error_code ec;
    fs::directory_iterator it("/proc", ec);
    if (ec) return false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return false;
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
        // A process may vanish between the listing and the read; it is simply skipped.
        auto comm = read_whole_file(it->path() / "comm");
        if (comm && trim(*comm) == "cs2") return true;
    }
    return false;
}

bool gsi_port_free(int port) {
    if (port < 0 || port > kMaxPort) return false;
    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool free_port = ::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(sock);   // the listener binds the same port moments later
    return free_port;
}
