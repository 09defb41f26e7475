// Steam, process list and port probe of the start-up checks, POSIX side: the
// running client leaves its process id in steam.pid (and in registry.vdf's
// HKLM SteamPID), the game's process is "cs2" and the process list is /proc.
#include "steam/preflight.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/port_range.h"
#include "core/registry.h"
#include "core/text.h"
#include "steam/discovery.h"
#include "steam/steam_registry.h"

namespace fs = std::filesystem;

namespace {

// A process id as steam.pid and SteamPID hold it: decimal digits with blanks
// around. 0 (SteamPID while Steam is closed) and anything else: none.
std::optional<long> read_pid(std::string_view text) {
    text = trim(text);
    if (text.size() > 9) return std::nullopt;   // beyond any pid the kernel hands out
    const std::optional<std::uint64_t> pid = parse_decimal(text);
    if (!pid || *pid == 0) return std::nullopt;
    return static_cast<long>(*pid);
}

// The name the kernel keeps for a process; absent once it is gone.
std::optional<std::string> process_name(const fs::path& process) {
    auto comm = read_whole_file(process / "comm");
    if (!comm) return std::nullopt;
    return std::string(trim(*comm));
}

fs::path process_folder(long pid) { return fs::path("/proc") / std::to_string(pid); }

// True once `found(folder, name)` is true for a process of /proc. A process
// may vanish between the listing and the read; it is simply skipped.
template <typename Found>
bool any_process(const Found& found) {
    std::error_code ec;
    fs::directory_iterator it("/proc", ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string id = it->path().filename().string();
        if (id.empty() || !std::isdigit(static_cast<unsigned char>(id[0]))) continue;
        auto name = process_name(it->path());
        if (name && found(it->path(), *name)) return true;
    }
    return false;
}

// The innermost of a process's ids when it runs in a pid namespace of its own
// (the last field of "NSpid:" in /proc/<pid>/status); absent otherwise.
std::optional<long> namespace_pid(const fs::path& process) {
    auto status = read_whole_file(process / "status");
    if (!status) return std::nullopt;
    std::size_t at = status->find("\nNSpid:");
    if (at == std::string::npos) return std::nullopt;
    std::size_t end = status->find('\n', at + 1);
    std::string_view ids = trim(std::string_view(*status).substr(at + 7, end - at - 7));
    std::size_t last = ids.find_last_of(" \t");
    if (last == std::string_view::npos) return std::nullopt;   // one id: no namespace
    return read_pid(ids.substr(last + 1));
}

// A process called steam with this id, as this system counts, or as its own
// pid namespace counts: the Flatpak's sandbox writes steam.pid from inside one.
bool is_steam(long pid) {
    if (process_name(process_folder(pid)) == "steam") return true;
    return any_process([pid](const fs::path& process, const std::string& name) {
        return name == "steam" && namespace_pid(process) == pid;
    });
}

}  // namespace

PreflightCheck steam_client_check() {
    std::vector<std::pair<long, std::string>> named;   // process id, where it was read
    for (const fs::path& folder : steam_user_folders()) {
        const fs::path file = folder / "steam.pid";
        auto text = read_whole_file(file);
        auto pid = text ? read_pid(*text) : std::nullopt;
        if (pid) named.emplace_back(*pid, path_to_utf8(file));
    }
    auto value = read_registry_string(kSteamKey, "SteamPID",
                                      RegistryHive::local_machine);
    auto pid = value ? read_pid(*value) : std::nullopt;
    if (pid) named.emplace_back(*pid, "SteamPID of registry.vdf");

    for (const auto& [id, source] : named) {
        if (is_steam(id)) {
            return {"steam client", true, "running as pid " + std::to_string(id) + " (" + source + ")"};
        }
    }
    if (named.empty()) {
        return {"steam client", false, "Steam is not running (no steam.pid) -- start Steam first"};
    }
    const auto& [id, source] = named.front();
    const auto name = process_name(process_folder(id));
    return {"steam client", false,
            "Steam is not running (pid " + std::to_string(id) + " of " + source +
                (name ? " is '" + *name + "', not steam" : " is gone") + ") -- start Steam first"};
}

bool is_cs2_running() {
    return any_process([](const fs::path&, const std::string& name) { return name == "cs2"; });
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
