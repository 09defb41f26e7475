#include "service/handlers.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "service/assets.h"
#include "service/metrics.h"
#include "service/options.h"
#include "service/rate_limit.h"
#include "service/room_page.h"
#include "service/store.h"

namespace {

using nlohmann::json;

// Same-origin script and style only, nothing inline, no frames, no forms.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

HttpResponse answer(unsigned status, const char* type, std::string body, const char* cache = "no-store") {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Content-Type", type},
                        {"Cache-Control", cache},
                        {"Content-Security-Policy", kPolicy},
                        {"X-Content-Type-Options", "nosniff"},
                        {"Referrer-Policy", "no-referrer"},
                        {"X-Frame-Options", "DENY"}};
    response.body = std::move(body);
    return response;
}

HttpResponse json_answer(unsigned status, const json& body) {
    return answer(status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace));
}


HttpResponse post_match(ServiceContext& context, const HttpRequest& request) {
    const RoomRequestRead read = read_room_request(request.body);
    if (!read.ok) {
        HttpResponse response = refusal(400, read.error);
        return response;
    }
    const ArriveResult arrived = store_arrive(context.store, read.request, context.wall_seconds());
    if (arrived.status != StoreStatus::ok) return unavailable(arrived.error);
    (arrived.created ? context.metrics.rooms_created : context.metrics.rooms_joined).fetch_add(1);
    return json_answer(arrived.created ? 201 : 200,
                       json{{"url", context.options.public_url + "/r/" + read.request.room_key},
                            {"created", arrived.created}});
}

HttpResponse room(ServiceContext& context, const std::string& key, bool page) {
    const RoomLookup found = store_room(context.store, key);
    if (found.status == StoreStatus::unavailable) return unavailable(found.error);
    if (found.status == StoreStatus::not_found)
        return page ? answer(404, "text/html; charset=utf-8", missing_room_html())
                    : json_answer(404, json{{"error", "no such room"}});
    return page ? answer(200, "text/html; charset=utf-8", room_page_html(found.room))
                : answer(200, "application/json", room_state_json(found.room));
}

HttpResponse healthz(ServiceContext& context) {
    std::string error;
    if (!store_healthy(context.store, error)) return unavailable(error);
    return answer(200, "text/plain; charset=utf-8", "ok\n");
}

}  // namespace

HttpResponse unavailable(const std::string& why) {
    HttpResponse response = json_answer(503, json{{"error", "the room database is unavailable, try again"}});
    response.headers.emplace_back("Retry-After", "2");
    response.detail = why;
    return response;
}

HttpResponse refusal(unsigned status, const std::string& why) {
    HttpResponse response = json_answer(status, json{{"error", why}});
    response.detail = why;
    return response;
}

HttpResponse handle_request(ServiceContext& context, const HttpRequest& request) {
    const Routed routed = route_request(request.method, request.target);
    HttpResponse response;
    const bool posting = routed.route == Route::post_match;
    RateLimiter& limiter = posting ? context.post_limiter : context.get_limiter;
    const RateDecision decision = routed.route == Route::metrics || routed.route == Route::healthz
                                      ? RateDecision{}
                                      : take_token(limiter, request.client, context.steady_seconds());
    if (!decision.allowed) {
        context.metrics.rate_limited.fetch_add(1);
        response = refusal(429, "too many requests from this address");
        response.headers.emplace_back("Retry-After", std::to_string(decision.retry_after));
    } else {
        switch (routed.route) {
            case Route::post_match: response = post_match(context, request); break;
            case Route::room_page: response = room(context, routed.key, true); break;
            case Route::room_json: response = room(context, routed.key, false); break;
            case Route::script:
                response = answer(200, "text/javascript; charset=utf-8", kRoomScript, "public, max-age=3600");
                break;
            case Route::stylesheet:
                response = answer(200, "text/css; charset=utf-8", kRoomStylesheet, "public, max-age=3600");
                break;
            case Route::icon:
                response = answer(200, "image/svg+xml", kRoomIcon, "public, max-age=86400");
                break;
            case Route::healthz: response = healthz(context); break;
            case Route::metrics:
                response = answer(200, "text/plain; version=0.0.4; charset=utf-8",
                                  metrics_text(context.metrics, store_stats(context.store)));
                break;
            case Route::wrong_method:
                response = refusal(405, "method not allowed");
                response.headers.emplace_back("Allow", request.target.rfind("/v1/matches", 0) == 0 ? "POST" : "GET, HEAD");
                break;
            case Route::not_found: response = refusal(404, "no such route"); break;
        }
    }
    response.route = routed.route;
    return response;
}

std::int64_t system_wall_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double system_steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
