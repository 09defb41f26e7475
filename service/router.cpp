#include "service/router.h"

#include <algorithm>

namespace {

bool is_get(std::string_view method) { return method == "GET" || method == "HEAD"; }

Routed for_method(bool allowed, Route route, std::string key = {}) {
    if (!allowed) return Routed{Route::wrong_method, {}};
    return Routed{route, std::move(key)};
}

}  // namespace

bool room_key_shape(std::string_view key) {
    return key.size() == 32 &&
           std::all_of(key.begin(), key.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

Routed route_request(std::string_view method, std::string_view target) {
    const std::string_view path = target.substr(0, target.find('?'));
    if (path == "/v1/matches") return for_method(method == "POST", Route::post_match);
    if (path == "/healthz") return for_method(is_get(method), Route::healthz);
    if (path == "/metrics") return for_method(is_get(method), Route::metrics);
    if (path == "/static/room.js") return for_method(is_get(method), Route::script);
    if (path == "/static/room.css") return for_method(is_get(method), Route::stylesheet);
    if (path == "/static/icon.svg") return for_method(is_get(method), Route::icon);
    constexpr std::string_view page = "/r/";
    constexpr std::string_view json = "/v1/rooms/";
    if (path.substr(0, page.size()) == page) {
        const std::string_view key = path.substr(page.size());
        if (!room_key_shape(key)) return Routed{};
        return for_method(is_get(method), Route::room_page, std::string(key));
    }
    if (path.substr(0, json.size()) == json) {
        const std::string_view key = path.substr(json.size());
        if (!room_key_shape(key)) return Routed{};
        return for_method(is_get(method), Route::room_json, std::string(key));
    }
    return Routed{};
}

const char* route_name(Route route) {
    switch (route) {
        case Route::post_match: return "post_match";
        case Route::room_page: return "room_page";
        case Route::room_json: return "room_json";
        case Route::script: return "script";
        case Route::stylesheet: return "stylesheet";
        case Route::icon: return "icon";
        case Route::healthz: return "healthz";
        case Route::metrics: return "metrics";
        case Route::not_found: return "not_found";
        case Route::wrong_method: return "wrong_method";
    }
    return "not_found";
}
