// The service's answers without the network: routes, rate limits, the room
// page's escaping and headers, and the statuses the agent acts upon.
#include "service/handlers.h"

#include <gtest/gtest.h>

#include "rooms/room_request.h"
#include "roster/room_key.h"
#include "service/access_log.h"
#include "service/metrics.h"
#include "service/options.h"
#include "service/rate_limit.h"
#include "service/room_page.h"
#include "service/router.h"
#include "service/store.h"
#include "tests/support/test_support.h"

namespace {

const std::string kKey = "0123456789abcdef0123456789abcdef";

TEST(Router, OnlyTheListedRoutes) {
    const struct { const char* method; std::string target; Route route; } rows[] = {
        {"POST", "/v1/matches", Route::post_match},
        {"GET", "/v1/matches", Route::wrong_method},
        {"GET", "/r/" + kKey, Route::room_page},
        {"HEAD", "/r/" + kKey + "?from=link", Route::room_page},
        {"POST", "/r/" + kKey, Route::wrong_method},
        {"GET", "/r/" + kKey + "/", Route::not_found},
        {"GET", "/r/0123456789ABCDEF0123456789ABCDEF", Route::not_found},
        {"GET", "/r/../etc/passwd", Route::not_found},
        {"GET", "/v1/rooms/" + kKey, Route::room_json},
        {"GET", "/v1/rooms/" + kKey.substr(1), Route::not_found},
        {"GET", "/healthz", Route::healthz},
        {"GET", "/metrics", Route::metrics},
        {"GET", "/static/room.js", Route::script},
        {"GET", "/static/room.css", Route::stylesheet},
        {"GET", "/static/icon.svg", Route::icon},
        {"GET", "/static/../service.db", Route::not_found},
        {"DELETE", "/healthz", Route::wrong_method},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target);
        const Routed routed = route_request(row.method, row.target);
        EXPECT_EQ(routed.route, row.route);
        if (row.route == Route::room_page) {
            EXPECT_EQ(routed.key, kKey);
        }
    }
}

TEST(RateLimit, ABurstThenTheSteadyRateEachClientApart) {
    RateLimiter limiter;
    limiter.rule = BucketRule{2, 3};
    const struct { const char* guards; const char* client; double at; bool allowed; int retry_after; } rows[] = {
        {"burst 1", "a", 0, true, 0},
        {"burst 2", "a", 0, true, 0},
        {"burst 3", "a", 0, true, 0},
        {"burst spent", "a", 0.1, false, 1},
        {"another client has its own bucket", "b", 0.1, true, 0},
        {"refilled at two a second", "a", 0.6, true, 0},
        {"and spent again", "a", 0.6, false, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        const RateDecision d = take_token(limiter, row.client, row.at);
        EXPECT_EQ(d.allowed, row.allowed);
        EXPECT_EQ(d.retry_after, row.retry_after);
    }
    limiter.rule = BucketRule{0, 1};   // no limit
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(take_token(limiter, "a", 1).allowed);
}

StoredRoom hostile_room() {
    StoredRoom room;
    room.key = kKey;
    room.map = "<b>de_dust2</b>";
    room.created_at = 1796700000;
    for (std::uint64_t i = 0; i < 10; ++i)
        room.members.push_back(RoomMember{0, "p" + std::to_string(i), "gsi", 76561198000000100ull + i, i < 5 ? "CT" : "T"});
    room.members[0].name = "<img src=x onerror=alert(1)>";
    room.members[1].name = "\"'><script>alert(1)</script>";
    room.members[2].name = "a\xe2\x80\xaeRTL\x1b[31m";
    room.members[9].team = "";
    for (int i = 0; i < 7; ++i) room.arrivals.push_back(StoredArrival{room.members[i].steamid, 5});
    return room;
}

TEST(RoomPage, NamesAreTextTeamsAreApartTheCountIsShown) {
    const std::string page = room_page_html(hostile_room());
    const struct { const char* guards; const char* text; bool present; } rows[] = {
        {"the tag is escaped", "&lt;img src=x onerror=alert(1)&gt;", true},
        {"no raw tag", "<img", false},
        {"quotes cannot leave an attribute", "&quot;&#39;&gt;&lt;script&gt;", true},
        {"one script element only, the external one", "<script>", false},
        {"a name is isolated from its neighbours' direction", "<bdi>a\xe2\x80\xaeRTL\xef\xbf\xbd[31m</bdi>", true},
        {"the map is escaped", "<h1>&lt;b&gt;de_dust2&lt;/b&gt;</h1>", true},
        {"the count", ">7 of 10 here<", true},
        {"profile links", "href=\"https://steamcommunity.com/profiles/76561198000000100\"", true},
        {"both teams", "Counter-Terrorists", true},
        {"a player whose team is not known", "Team not known", true},
        {"no inline style", "style=", false},
        {"when it was made", "2026-12-08 03:20 UTC", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        EXPECT_EQ(page.find(row.text) != std::string::npos, row.present);
    }
    const std::string state = room_state_json(hostile_room());
    EXPECT_NE(state.find("\"here\":7"), std::string::npos) << state;
    EXPECT_NE(state.find("\"size\":10"), std::string::npos) << state;
}

TEST(AccessLog, OneLineOfAsciiWhateverTheRequest) {
    const std::string line = access_line(AccessRecord{1, "1.2.3.4", "GET", "/r/\x1b[2J\n\xff\xc3\xa9", "not_found", 404, 3, 0.001, ""});
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    for (char c : line.substr(0, line.size() - 1))
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << int(static_cast<unsigned char>(c));
}

TEST(Options, TheCommandLine) {
    const struct { const char* guards; std::vector<std::string> args; bool ok; std::string error; } rows[] = {
        {"the documented line", {"--listen", "127.0.0.1:8080", "--db", "rooms.db", "--public-url", "https://rooms.example.org/", "--keep-days", "30"}, true, ""},
        {"IPv6", {"--listen", "[::1]:0", "--public-url", "http://x"}, true, ""},
        {"no public URL", {"--db", "x"}, false, "--public-url is needed (the address players open, e.g. https://rooms.example.org)"},
        {"a port beyond 65535", {"--listen", "127.0.0.1:65536", "--public-url", "http://x"}, false, "bad value for --listen: 127.0.0.1:65536"},
        {"a public URL without scheme", {"--public-url", "rooms.example.org"}, false, "bad value for --public-url: rooms.example.org"},
        {"zero days", {"--public-url", "http://x", "--keep-days", "0"}, false, "bad value for --keep-days: 0"},
        {"a flag without value", {"--public-url"}, false, "--public-url needs a value"},
        {"an unknown flag", {"--public-url", "http://x", "--fast", "1"}, false, "unknown argument: --fast"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        const ParsedOptions parsed = parse_service_options(row.args);
        EXPECT_EQ(parsed.ok, row.ok);
        EXPECT_EQ(parsed.error, row.error);
    }
    EXPECT_EQ(parse_service_options({"--public-url", "https://r.org//"}).options.public_url, "https://r.org");
}

double fixed_time() { return 0; }
std::int64_t fixed_wall() { return 1796700000; }

TEST(Handlers, StatusesTheAgentActsUpon) {
    const auto folder = make_temp_dir("handlers");
    std::string error;
    auto store = open_store(StoreOptions{(folder / "rooms.db").string(), 2, std::chrono::milliseconds(500)}, error);
    ASSERT_TRUE(store) << error;
    ServiceOptions options;
    options.public_url = "https://rooms.example.org";
    Metrics metrics;
    RateLimiter posts, gets;
    posts.rule = BucketRule{1, 3};
    ServiceContext context{*store, options, metrics, posts, gets, fixed_wall, fixed_time};

    RoomRequest request;
    for (std::uint64_t i = 0; i < 10; ++i) {
        request.steamids.push_back(76561198000000100ull + i);
        request.members.push_back(RoomMember{0, "p", "gsi", request.steamids.back(), ""});
    }
    request.room_key = derive_room_key(request.steamids);
    request.reporter = request.steamids[0];
    const std::string body = room_request_json(request);
    const std::string url = "https://rooms.example.org/r/" + request.room_key;
    const struct { const char* guards; const char* method; std::string target; std::string body; unsigned status; std::string answer; } rows[] = {
        {"created", "POST", "/v1/matches", body, 201, "{\"created\":true,\"url\":\"" + url + "\"}"},
        {"joined", "POST", "/v1/matches", body, 200, "{\"created\":false,\"url\":\"" + url + "\"}"},
        {"refused with why", "POST", "/v1/matches", "[]", 400, "{\"error\":\"body is not a JSON object\"}"},
        {"rate-limited: a final refusal", "POST", "/v1/matches", body, 429, "{\"error\":\"too many requests from this address\"}"},
        {"the page", "GET", "/r/" + request.room_key, "", 200, ""},
        {"an unknown room", "GET", "/r/" + std::string(32, 'e'), "", 404, ""},
        {"an unknown room's state", "GET", "/v1/rooms/" + std::string(32, 'e'), "", 404, "{\"error\":\"no such room\"}"},
        {"another route", "GET", "/admin", "", 404, "{\"error\":\"no such route\"}"},
        {"another method", "PUT", "/v1/matches", "", 405, "{\"error\":\"method not allowed\"}"},
        {"health", "GET", "/healthz", "", 200, "ok\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.guards);
        const HttpResponse response = handle_request(context, HttpRequest{row.method, row.target, row.body, "10.0.0.1"});
        EXPECT_EQ(response.status, row.status);
        if (!row.answer.empty()) {
            EXPECT_EQ(response.body, row.answer);
        }
        bool policy = false, nosniff = false, referrer = false;
        for (const auto& [name, value] : response.headers) {
            policy |= name == "Content-Security-Policy" &&
                      value == "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                               "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
            nosniff |= name == "X-Content-Type-Options" && value == "nosniff";
            referrer |= name == "Referrer-Policy" && value == "no-referrer";
            if (row.status == 429 && name == "Retry-After") {
                EXPECT_EQ(value, "1");
            }
        }
        EXPECT_TRUE(policy);
        EXPECT_TRUE(nosniff);
        EXPECT_TRUE(referrer);
    }
    EXPECT_EQ(metrics.rooms_created.load(), 1u);
    EXPECT_EQ(metrics.rooms_joined.load(), 1u);
    EXPECT_EQ(metrics.rate_limited.load(), 1u);
}

}  // namespace
