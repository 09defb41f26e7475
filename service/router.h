// Which handler a request goes to: the method and the path alone decide, so
// every route of the service is listed here and nowhere else.
#pragma once

#include <string>
#include <string_view>

enum class Route {
    post_match,      // POST /v1/matches
    room_page,       // GET /r/<key>
    room_json,       // GET /v1/rooms/<key>
    script,          // GET /static/room.js
    stylesheet,      // GET /static/room.css
    icon,            // GET /static/icon.svg
    healthz,         // GET /healthz
    metrics,         // GET /metrics
    not_found,
    wrong_method,    // a known path with another method
};

struct Routed {
    Route route = Route::not_found;
    std::string key;   // the room key of room_page and room_json
};

// `target` is the request target as sent; a query string is ignored. HEAD
// counts as GET.
Routed route_request(std::string_view method, std::string_view target);

// The name of a route in metrics and the access log.
const char* route_name(Route route);

// 32 lower-case hexadecimal characters, as the agent derives them.
bool room_key_shape(std::string_view key);
