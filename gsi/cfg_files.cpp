#include "gsi/cfg_files.h"

#include "core/event_log.h"
#include "core/files.h"
#include "core/keyvalues.h"
#include "core/text.h"

#include <algorithm>

namespace {

std::string without_carriage_returns(std::string_view text) {
    std::string out(text);
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return out;
}

}  // namespace

std::string gsi_cfg_text(std::uint32_t port, std::string_view token) {
    // The port and token go in unescaped; settings only hand over tokens that
    // need no escaping.
    std::string text =
        "\"vantor\"\n"
        "{\n"
        "\t\"uri\"       \"http://127.0.0.1:";
    text += std::to_string(port);
    text +=
        "/\"\n"
        "\t\"timeout\"   \"5.0\"\n"
        "\t\"buffer\"    \"0.1\"\n"
        "\t\"throttle\"  \"0.5\"\n"
        "\t\"heartbeat\" \"10.0\"\n"
        "\t\"auth\"\n"
        "\t{\n"
        "\t\t\"token\" \"";
    text += token;
    text +=
        "\"\n"
        "\t}\n"
        "\t\"data\"\n"
        "\t{\n"
        "\t\t\"provider\"     \"1\"\n"
        "\t\t\"map\"          \"1\"\n"
        "\t\t\"round\"        \"1\"\n"
        "\t\t\"player_id\"    \"1\"\n"
        "\t\t\"player_state\" \"1\"\n"
        "\t}\n"
        "}\n";
    return text;
}

const std::string& exec_cfg_text() {
    static const std::string text = R"cfg(// vantor - written automatically, and safe to delete.
//
// Type  exec vantor  in the CS2 console during a match. It prints who is on the
// server into console.log, which is how vantor learns the roster and builds the
// room link. The link lands in your clipboard -- paste it into team chat with Ctrl+V,
// or anywhere else you want it. The first run of a match takes a few seconds to get
// there: the roster has to be assembled and the room created first. Run it again any
// time: the link is derived from the ten players, so it is always the same link for
// the same match.
//
// Requires  -condebug  in the CS2 launch options, or console.log is never written.
// Adding  +exec vantor  as well is recommended: it runs this file at startup,
// which is harmless and repairs the Tab bind below.
//
// Two ways to get the link again, without handing over the roster a second time:
//
//   exec vantor_room   prints the link here in the console AND copies it
//   vantor             copies it, and prints nothing
//
// The first is written for you whenever a room is created, so it always holds the link
// for the match you are in. The second is not a command and is not supposed to be: CS2
// answers that it does not know it, and that refusal is the signal. Neither costs the
// server anything, so run them as often as you like.
//
// Prefer one keypress? Put lines like these in your own autoexec.cfg:
//   bind "f9" "exec vantor"
//   bind "f10" "exec vantor_room"

// An earlier version of vantor rebound Tab to run `status`. This puts it back;
// nothing here touches any other key.
bind "tab" "+showscores"

// No echo here on purpose. This file used to announce itself with one, and measured
// against a live match that line never reached console.log -- `execing vantor` did,
// the bind did, the whole status block did, the echo did not. The agent watches for the
// exec line instead, which CS2 writes without being asked.
status
)cfg";
    return text;
}

const char* cfg_status_name(CfgStatus status) {
    switch (status) {
    case CfgStatus::up_to_date: return "up-to-date";
    case CfgStatus::written: return "written";
    case CfgStatus::stale: return "stale";
    case CfgStatus::failed: return "failed";
    }
    return "unknown";
}

namespace {

// Brings one file up to date, or with write == false only checks it.
CfgResult write_cfg_file(const std::filesystem::path& cfg_folder, std::string_view name,
                         std::string_view content, bool write, FileAccess access) {
    CfgResult result;
    result.path = cfg_folder / path_from_utf8(name);
    // An unreadable existing file is treated as missing.
    std::optional<std::string> existing = read_whole_file(result.path);
    if (existing && without_carriage_returns(*existing) == without_carriage_returns(content)) {
        // A current copy written before files holding the token were private.
        if (write && access == FileAccess::owner_only) restrict_to_owner(result.path);
        result.status = CfgStatus::up_to_date;
        result.detail = "already current";
        return result;
    }
    if (!write) {
        result.status = CfgStatus::stale;
        result.detail = existing ? "differs from what the agent would write (--no-write-cfg)"
                                 : "missing (--no-write-cfg)";
        return result;
    }
    if (write_whole_file(result.path, content, access)) {
        result.status = CfgStatus::written;
        result.detail = existing ? "updated" : "created";
    } else {
        result.status = CfgStatus::failed;
        result.detail = "cannot write " + path_to_utf8(result.path);
    }
    return result;
}

// The `cfg` event for one file, with `label` "gsi" or "exec".
void report_cfg(EventLog& log, std::string_view label, const CfgResult& result) {
    const char* state = cfg_status_name(result.status);
    nlohmann::json data = {{"file", std::string(label)},
                           {"status", state},
                           {"path", path_to_utf8(result.path)},
                           {"detail", result.detail}};
    log_event(log, "cfg", data,
              std::string(label) + ": " + state + " (" + result.detail + ")");
}

}  // namespace

CfgResult write_gsi_cfg(const std::filesystem::path& cfg_folder,
                        std::uint32_t port, std::string_view token, bool write) {
    // It holds the token that authorises GSI posts: the user's alone.
    return write_cfg_file(cfg_folder, kGsiCfgName, gsi_cfg_text(port, token), write,
                          FileAccess::owner_only);
}

CfgResult write_exec_cfg(const std::filesystem::path& cfg_folder, bool write) {
    return write_cfg_file(cfg_folder, kExecCfgName, exec_cfg_text(), write, FileAccess::shared);
}

void set_up_cfg_files(EventLog& log, const std::filesystem::path& cfg_folder,
                      std::uint32_t port, std::string_view token, bool write) {
    CfgResult gsi = write_gsi_cfg(cfg_folder, port, token, write);
    report_cfg(log, "gsi", gsi);
    CfgResult exec = write_exec_cfg(cfg_folder, write);
    report_cfg(log, "exec", exec);
    if (gsi.status == CfgStatus::written)
        log_console(log, "  -> CS2 loads GSI configs at startup; restart the game for this to take effect");
    if (exec.status == CfgStatus::written) {
        log_console(log, "  -> in a match, type  exec vantor  in the CS2 console to hand over the roster");
        log_console(log, "  -> an earlier version rebound Tab; running that once also restores it");
    }
}

std::string read_gsi_cfg_token(const std::filesystem::path& cfg_folder) {
    std::optional<std::string> text = read_whole_file(cfg_folder / path_from_utf8(kGsiCfgName));
    if (!text)
        return {};
    std::optional<KvNode> root = kv_parse(*text);
    if (!root || root->children.empty())
        return {};
    const KvNode* auth = kv_find_child(root->children.front().node, "auth");
    if (!auth)
        return {};
    const std::string* token = kv_find_value(*auth, "token");
    return token ? *token : std::string();
}
