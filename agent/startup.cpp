// The normal run: the one-agent lock, event log, Steam and CS2 discovery, the
// preflight report, then the co-play dump or the main loop.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "agent/options.h"
#include "agent/run_modes.h"
#include "agent/single_instance.h"
#include "agent/tray.h"
#include "core/event_log.h"
#include "core/files.h"
#include "core/text.h"
#include "steam/coplay_dump.h"
#include "steam/discovery.h"
#include "steam/preflight.h"

namespace {

// Without these two there is nothing to observe.
bool is_fatal(const PreflightCheck& check) {
    return !check.ok && (check.name == "cs2 install" || check.name == "steam client");
}

// The run after the lock: `lock_error` says why it runs without one.
int observe(const AgentOptions& options, const std::string& lock_error) {
    EventLog log;   // its start is the zero of the console time prefix
    const std::filesystem::path folder = event_log_folder(options);
    log.debug = options.debug;
    if (log_open(log, folder)) {
        log_console(log, "log: " + path_to_utf8(log.path));
    } else {
        // Paths reach the console as UTF-8, which is what the console is set to.
        std::fprintf(stderr, "warning: cannot write JSONL log to %s, console only\n",
                     path_to_utf8(folder).c_str());
        std::fflush(stderr);
    }

    if (!lock_error.empty()) {
        log_event(log, "error", {{"where", "instance_lock"}, {"detail", lock_error}},
                  "single instance: " + lock_error);
    }

    const std::optional<Cs2Install> install = discover_cs2();

    log_console(log, "preflight:");
    const std::vector<PreflightCheck> checks =
        run_preflight(install, static_cast<int>(options.gsi_port));
    bool fatal = false;
    for (const PreflightCheck& check : checks) {
        log_console(log, std::string(check.ok ? "  [ ok ] " : "  [fail] ") + check.name + ": " +
                             check.detail);
        log_event(log, "preflight",
                  {{"check", check.name}, {"ok", check.ok}, {"detail", check.detail}}, "");
        if (is_fatal(check)) fatal = true;
    }
    if (fatal || !install) {
        log_console(log, "preflight failed, nothing to observe");
        return 1;
    }
    if (options.coplay_once) return run_coplay_once(log);
    tray_prepare(log, options);
    return run_main_loop(options, *install, log);
}

}  // namespace

std::filesystem::path event_log_folder(const AgentOptions& options) {
    if (!options.log_dir.empty()) return options.log_dir;
    if (auto data = agent_data_folder()) return *data / "logs";
    return std::filesystem::path("logs");
}

int run_startup(const AgentOptions& options) {
    InstanceLock lock;
    LockAttempt attempt;
    // Only the observing run is one per user: --coplay-once may look at Steam
    // beside it.
    if (!options.coplay_once) {
        const std::optional<std::filesystem::path> data = agent_data_folder();
        attempt = take_instance_lock(lock, data ? *data : std::filesystem::path());
        if (!attempt.taken && attempt.error.empty()) {
            std::printf("%s\n", already_running_text(attempt.running_pid).c_str());
            std::fflush(stdout);
            tray_wake_running_agent();
            return 0;
        }
    }
    const int code = observe(options, attempt.error);
    release_instance_lock(lock);
    return code;
}
