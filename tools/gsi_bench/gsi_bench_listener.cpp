// The GSI listener as the agent runs it: the worker answers and queues, and
// this main thread drains the queue every 300 ms and handles each body as a
// pass does (players, state, phase; every event written to a real log).
//
//   gsi_bench_listener [--port N] [--token T] [--debug] [--log-dir DIR]
//
// Prints "port N" once listening, runs until its standard input closes, then
// prints "requests R malformed M handled H".
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/event_log.h"
#include "core/text.h"
#include "gsi/gsi_listener.h"
#include "gsi/gsi_payload.h"

int main(int argc, char** argv) {
    std::uint32_t port = 0;
    std::string token;
    std::string log_dir;
    bool debug = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) port = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--token" && i + 1 < argc) token = argv[++i];
        else if (arg == "--log-dir" && i + 1 < argc) log_dir = argv[++i];
        else if (arg == "--debug") debug = true;
        else {
            std::fprintf(stderr, "usage: gsi_bench_listener [--port N] [--token T] [--debug] [--log-dir DIR]\n");
            return 2;
        }
    }

    EventLog log;
    log.debug = debug;
    if (!log_dir.empty() && !log_open(log, path_from_utf8(log_dir))) {
        std::fprintf(stderr, "cannot open a log in %s\n", log_dir.c_str());
        return 1;
    }
    GsiListener listener;
    std::string error;
    if (!listener.start(port, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(listener.port));
    std::fflush(stdout);

    std::atomic<bool> done{false};
    std::thread watch([&] {
        while (std::fgetc(stdin) != EOF) {
        }
        done = true;
    });

    // The console echo of every event would dominate; only the file is kept.
    std::FILE* quiet = std::freopen(
#ifdef _WIN32
        "NUL",
#else
        "/dev/null",
#endif
        "w", stdout);
    GsiPlayers players;
    GsiState last;
    bool have = false;
    std::uint64_t handled = 0;
    std::vector<std::string> bodies;
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        bodies.clear();
        listener.drain(bodies);
        for (const std::string& body : bodies) {
            GsiDecision decision = handle_gsi_body(body, token, players, last, have, log);
            if (decision.change != GsiMatchChange::none) players.clear();
            ++handled;
        }
    }
    watch.join();
    listener.stop();
    std::fprintf(stderr, "requests %llu malformed %llu handled %llu\n",
                 static_cast<unsigned long long>(listener.requests()),
                 static_cast<unsigned long long>(listener.malformed()),
                 static_cast<unsigned long long>(handled));
    (void)quiet;
    return 0;
}
