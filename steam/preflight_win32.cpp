// Steam, process list and port probe of the start-up checks, Windows side.
#include "steam/preflight.h"
#include "core/port_range.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "core/registry.h"
#include "steam/steam_registry.h"

PreflightCheck steam_client_check() {
    auto dll = read_registry_string(kSteamActiveProcessKey, "SteamClientDll64");
    if (!dll) return {"steam client", false, "SteamClientDll64 missing -- is Steam running?"};
    return {"steam client", true, *dll};
}

bool is_cs2_running() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = _wcsicmp(entry.szExeFile, L"cs2.exe") == 0;
    }
    CloseHandle(snapshot);
    return found;
}

bool gsi_port_free(int port) {
    if (port < 0 || port > kMaxPort) return false;
    WSADATA wsa{};
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    bool free_port = false;
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock != INVALID_SOCKET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        if (InetPtonW(AF_INET, L"127.0.0.1", &address.sin_addr) == 1) {
            free_port = bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        }
        closesocket(sock);   // the listener binds the same port moments later
    }
    WSACleanup();
    return free_port;
}
