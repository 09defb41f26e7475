#include "agent/settings.h"

#include <system_error>

#include "core/files.h"
#include "core/json_file.h"
#include "core/json_members.h"
#include "core/port_range.h"
#include "core/random.h"
#include "core/text.h"
#include "gsi/cfg_files.h"

#include <nlohmann/json.hpp>

namespace {

// The port as agent.json holds it: a fraction is cut toward zero, true and
// false read as 1 and 0. Absent when it is not a number or leaves 1..65535.
bool port_from_json(const nlohmann::json& value, std::uint32_t& port) {
    std::int64_t whole = 0;
    if (value.is_boolean()) {
        whole = value.get<bool>() ? 1 : 0;
    } else if (value.is_number_unsigned()) {
        std::uint64_t v = value.get<std::uint64_t>();
        whole = v > static_cast<std::uint64_t>(kMaxPort) ? kMaxPort + 1 : static_cast<std::int64_t>(v);
    } else if (value.is_number_integer()) {
        whole = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        double v = value.get<double>();
        // Checked before the cast: a huge value would not fit any integer.
        if (!(v > -1.0 && v < double(kMaxPort + 1)))
            return false;
        whole = static_cast<std::int64_t>(v);
    } else {
        return false;
    }
    if (!port_in_range(whole))
        return false;
    port = static_cast<std::uint32_t>(whole);
    return true;
}

// The built-in values: empty token, port 47474, the built-in API base.
AgentSettings default_settings() {
    AgentSettings settings;
    settings.api_base_url = kDefaultApiBase;
    return settings;
}

// agent.json as written: indent of two, keys in byte order, final line feed.
std::string settings_json_text(const AgentSettings& settings) {
    nlohmann::json doc = nlohmann::json::object();
    doc["api_base_url"] = settings.api_base_url;
    doc["gsi_port"] = settings.gsi_port;
    doc["gsi_token"] = settings.gsi_token;
    return json_file_text(doc);
}

}  // namespace

bool usable_gsi_token(std::string_view token) {
    // agent.json is JSON, which holds only UTF-8: a token with other bytes
    // would be saved changed and no longer match the cfg on the next run.
    if (valid_utf8(token) != token)
        return false;
    for (char c : token) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\\')
            return false;
    }
    return true;
}

std::string new_gsi_token() {
    unsigned char bytes[8] = {};
    if (!strong_random_bytes(bytes, sizeof bytes))
        return {};
    return hex_lower(bytes, sizeof bytes);
}

LoadedSettings load_settings(const std::filesystem::path& data_folder,
                             const std::filesystem::path& cfg_folder,
                             std::int32_t port_override, std::string_view api_base) {
    LoadedSettings loaded{default_settings(), {}};
    AgentSettings& settings = loaded.settings;
    std::vector<std::string>& problems = loaded.problems;
    const std::filesystem::path file = data_folder / path_from_utf8("agent.json");

    std::string port_problem;
    std::string unusable;   // why a file that is there cannot be used
    bool write_back = true;
    const std::optional<std::string> text = read_whole_file(file);
    std::error_code ec;
    if (!text && std::filesystem::is_regular_file(file, ec)) unusable = "cannot be read";
    if (text) {
        nlohmann::json doc = nlohmann::json::parse(*text, nullptr, false);
        // An empty file holds nothing to lose.
        if (doc.is_discarded() && !trim(*text).empty()) unusable = "is not valid JSON";
        else if (!doc.is_discarded() && !doc.is_object()) unusable = "is not a JSON object";
        if (!doc.is_discarded() && doc.is_object()) {
            if (const std::optional<std::string> token = json_string(doc, "gsi_token")) {
                if (usable_gsi_token(*token))
                    settings.gsi_token = *token;
                else
                    problems.push_back(
                        "gsi_token in agent.json holds a quote, backslash or control "
                        "character -- making a new one");
            }
            const nlohmann::json* port = json_member(doc, "gsi_port");
            if (port && !port_from_json(*port, settings.gsi_port)) {
                settings.gsi_port = kDefaultGsiPort;
                if (port->is_number() || port->is_boolean())
                    port_problem = "gsi_port " + port->dump() +
                                   " in agent.json is outside 1..65535 -- using " +
                                   std::to_string(kDefaultGsiPort);
                else
                    port_problem = "gsi_port in agent.json is not a number -- using " +
                                   std::to_string(kDefaultGsiPort);
            }
            if (std::optional<std::string> url = json_string(doc, "api_base_url"))
                settings.api_base_url = std::move(*url);
        }
    }

    if (!unusable.empty()) {
        // Kept so that writing the defaults does not destroy what the user wrote.
        const std::filesystem::path aside = keep_broken_file(file, text, FileAccess::owner_only);
        if (!aside.empty()) {
            problems.push_back(path_to_utf8(file) + " " + unusable + " -- kept it as " +
                               path_to_utf8(aside) + "; using the default settings");
        } else {
            write_back = false;
            problems.push_back(path_to_utf8(file) + " " + unusable +
                               " and could not be moved aside -- using the default settings "
                               "for this run and leaving the file as it is");
        }
    }

    // Keeps the token CS2 already has when agent.json was lost or damaged.
    if (settings.gsi_token.empty()) {
        std::string from_cfg = read_gsi_cfg_token(cfg_folder);
        if (usable_gsi_token(from_cfg))
            settings.gsi_token = from_cfg;
    }
    if (settings.gsi_token.empty()) {
        settings.gsi_token = new_gsi_token();
        if (settings.gsi_token.empty())
            problems.push_back("the system's random source failed -- no GSI token this run");
    }

    if (port_override > 0)
        settings.gsi_port = static_cast<std::uint32_t>(port_override);
    else if (!port_problem.empty())
        problems.push_back(port_problem);
    if (!api_base.empty())
        settings.api_base_url = std::string(api_base);

    // A settings file that cannot be written does not stop the run.
    // It holds the GSI token: other local users must not read it.
    if (write_back) write_whole_file(file, settings_json_text(settings), FileAccess::owner_only);
    return loaded;
}
