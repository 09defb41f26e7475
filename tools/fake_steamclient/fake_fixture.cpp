#include "fake_fixture.h"

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using nlohmann::json;

#ifdef _WIN32
std::optional<std::wstring> env_path(const wchar_t* name) {
    wchar_t buffer[32768];
    DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    if (n == 0 || n >= 32768) return std::nullopt;
    std::wstring path(buffer, n);
    // A host path handed through Wine: reach it through drive Z:.
    if (path[0] == L'/') path = L"Z:" + path;
    return path;
}

std::FILE* open_env_file(const wchar_t* name, const wchar_t* mode) {
    auto path = env_path(name);
    return path ? _wfopen(path->c_str(), mode) : nullptr;
}

std::optional<std::wstring> g_calls_path;
bool g_calls_checked = false;

void remember_calls_path() {
    g_calls_path = env_path(L"FAKE_STEAMCLIENT_CALLS");
    g_calls_checked = true;
}

std::FILE* open_calls_file() {
    return g_calls_path ? _wfopen(g_calls_path->c_str(), L"ab") : nullptr;
}
#else
std::FILE* open_env_file(const char* name, const char* mode) {
    const char* path = std::getenv(name);
    return (path != nullptr && *path != '\0') ? std::fopen(path, mode) : nullptr;
}

std::optional<std::string> g_calls_path;
bool g_calls_checked = false;

void remember_calls_path() {
    const char* path = std::getenv("FAKE_STEAMCLIENT_CALLS");
    if (path != nullptr && *path != '\0') g_calls_path = path;
    else g_calls_path.reset();
    g_calls_checked = true;
}

std::FILE* open_calls_file() {
    return g_calls_path ? std::fopen(g_calls_path->c_str(), "ab") : nullptr;
}
#endif

// Marks loading and unloading in the call log, so tests see the agent unload
// the library. Defined after the call log's path so it is destroyed first.
struct LoadMarker {
    LoadMarker() { log_fake_call("load"); }
    ~LoadMarker() { log_fake_call("unload"); }
} g_load_marker;

#ifdef _WIN32
#define FAKE_ENV(name) L##name
#define FAKE_MODE(mode) L##mode
#else
#define FAKE_ENV(name) name
#define FAKE_MODE(mode) mode
#endif

bool fixture_named() {
#ifdef _WIN32
    return env_path(L"FAKE_STEAMCLIENT_FIXTURE").has_value();
#else
    const char* path = std::getenv("FAKE_STEAMCLIENT_FIXTURE");
    return path != nullptr && *path != '\0';
#endif
}

// Numbers in the fixture may be JSON numbers or decimal strings (SteamID64s
// do not survive every JSON tool as numbers).
std::uint64_t to_u64(const json& value, std::uint64_t fallback = 0) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>();
    if (value.is_number_integer()) return static_cast<std::uint64_t>(value.get<std::int64_t>());
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        char* end = nullptr;
        unsigned long long n = std::strtoull(text.c_str(), &end, 0);
        if (end != text.c_str()) return n;
    }
    return fallback;
}

std::int64_t to_i64(const json& value, std::int64_t fallback = 0) {
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_string()) return static_cast<std::int64_t>(to_u64(value, static_cast<std::uint64_t>(fallback)));
    return fallback;
}

std::optional<std::string> to_text(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    return std::nullopt;
}

bool flag(const json& object, const char* key, bool fallback) {
    auto it = object.find(key);
    return (it != object.end() && it->is_boolean()) ? it->get<bool>() : fallback;
}

// The name fields may sit on a co-play entry or a friend entry; the first
// entry that mentions a SteamID64 fills them.
void read_person(FakePerson& person, const json& entry) {
    if (entry.contains("persona")) person.persona = to_text(entry["persona"]);
    if (entry.contains("resolves_to")) person.resolves_to = to_text(entry["resolves_to"]);
    if (entry.contains("after_requests")) person.after_requests = static_cast<int>(to_i64(entry["after_requests"]));
    if (entry.contains("after_reads")) person.after_reads = static_cast<int>(to_i64(entry["after_reads"]));
    if (entry.contains("nickname")) person.nickname = to_text(entry["nickname"]);
    if (entry.contains("history") && entry["history"].is_array()) {
        person.history.clear();
        for (const json& name : entry["history"]) person.history.push_back(to_text(name));
    }
    if (entry.contains("history_end")) person.history_end = to_text(entry["history_end"]);
    if (entry.contains("relationship")) person.relationship = static_cast<int>(to_i64(entry["relationship"]));
    if (entry.contains("game_id") && !entry["game_id"].is_null()) {
        person.in_game = true;
        person.game_id = to_u64(entry["game_id"]);
        person.server_ip = static_cast<std::uint32_t>(to_u64(entry.value("server_ip", json(0))));
        person.game_port = static_cast<std::uint16_t>(to_u64(entry.value("game_port", json(0))));
        person.query_port = static_cast<std::uint16_t>(to_u64(entry.value("query_port", json(0))));
        person.lobby = to_u64(entry.value("lobby", json(0)));
    }
    if (entry.contains("appid")) person.coplay_appid = static_cast<std::uint32_t>(to_u64(entry["appid"]));
    if (entry.contains("time")) person.coplay_time = static_cast<std::int32_t>(to_i64(entry["time"]));
}

void read_list(FakeWorld& world, const json& list, std::vector<std::uint64_t>& ids,
               int default_relationship) {
    if (!list.is_array()) return;
    for (const json& entry : list) {
        if (!entry.is_object()) continue;
        const std::uint64_t id = to_u64(entry.value("steamid", json(0)));
        ids.push_back(id);
        const bool fresh = world.people.find(id) == world.people.end();
        FakePerson& person = world.people[id];
        if (fresh) person.relationship = default_relationship;
        read_person(person, entry);
    }
}

// Friends made up in bulk, for benchmarks: "friend <i>" with a history of
// "friend <i> (<k>)" names.
void generate_friends(FakeWorld& world, const json& generator) {
    const int count = static_cast<int>(to_i64(generator.value("count", json(0))));
    const int history = static_cast<int>(to_i64(generator.value("history", json(0))));
    const std::uint64_t first = to_u64(generator.value("first_steamid", json(76561198100000000ull)));
    for (int i = 0; i < count; ++i) {
        const std::uint64_t id = first + static_cast<std::uint64_t>(i);
        world.friends.push_back(id);
        FakePerson& person = world.people[id];
        person.relationship = 3;
        person.persona = "friend " + std::to_string(i);
        person.nickname = (i % 10 == 0) ? std::optional<std::string>("nick " + std::to_string(i))
                                        : std::nullopt;
        for (int k = 0; k < history; ++k) {
            person.history.push_back(k == 0 ? *person.persona
                                            : *person.persona + " (" + std::to_string(k) + ")");
        }
        if (i % 7 == 0) {
            person.in_game = true;
            person.game_id = 730;
            person.lobby = 109775240000000000ull + static_cast<std::uint64_t>(i);
        }
    }
}

}  // namespace

bool load_fake_world(FakeWorld& world, std::string& error) {
    world = FakeWorld{};
    remember_calls_path();
    if (!fixture_named()) return true;
    std::FILE* file = open_env_file(FAKE_ENV("FAKE_STEAMCLIENT_FIXTURE"), FAKE_MODE("rb"));
    if (file == nullptr) {
        error = "cannot open the fixture named by FAKE_STEAMCLIENT_FIXTURE";
        return false;
    }
    std::string text;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);

    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        error = "the fixture is not a JSON object";
        return false;
    }
    world.logged_in = flag(root, "logged_in", true);
    world.pipe_ok = flag(root, "pipe", true);
    if (root.contains("offers") && root["offers"].is_array()) {
        world.offers_client = world.offers_friends = world.offers_user = false;
        for (const json& name : root["offers"]) {
            if (!name.is_string()) continue;
            const std::string version = name.get<std::string>();
            if (version == "SteamClient023") world.offers_client = true;
            if (version == "SteamFriends018") world.offers_friends = true;
            if (version == "SteamUser023") world.offers_user = true;
        }
    }
    if (root.contains("self") && root["self"].is_object()) {
        const json& self = root["self"];
        world.self_steamid = to_u64(self.value("steamid", json(0)), world.self_steamid);
        if (self.contains("persona")) world.self_persona = to_text(self["persona"]);
    }
    if (root.contains("coplay_count")) world.coplay_count = static_cast<int>(to_i64(root["coplay_count"]));
    if (root.contains("friend_count")) world.friend_count = static_cast<int>(to_i64(root["friend_count"]));
    if (root.contains("coplay")) read_list(world, root["coplay"], world.coplay, 0);
    if (root.contains("friends")) read_list(world, root["friends"], world.friends, 3);
    if (root.contains("generate_friends") && root["generate_friends"].is_object()) {
        generate_friends(world, root["generate_friends"]);
    }
    return true;
}

const std::string* current_persona(const FakeWorld& world, const FakePerson& person) {
    if (person.resolves_to) {
        const bool by_requests = person.after_requests > 0 && person.requests >= person.after_requests;
        const bool by_reads = person.after_reads > 0 && world.coplay_reads >= person.after_reads;
        if (by_requests || by_reads) return &*person.resolves_to;
    }
    return person.persona ? &*person.persona : nullptr;
}

void log_fake_call(const std::string& line) {
    if (!g_calls_checked) remember_calls_path();   // calls before the first CreateInterface
    std::FILE* file = open_calls_file();
    if (file == nullptr) return;
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
}
