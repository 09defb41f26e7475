// The portable half of the API client: splitting and checking the base URL.
#include "rooms/api_client.h"

#include <algorithm>
#include <optional>

#include "core/port_range.h"
#include "core/text.h"

namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Blanks and control characters never belong in a URL; rejecting them here
// keeps them out of the request line as well.
bool has_blank_or_control(std::string_view text) {
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F) return true;
    return false;
}

bool valid_scheme(std::string_view scheme) {
    if (scheme.empty() || !is_alpha(scheme[0])) return false;
    for (char c : scheme)
        if (!is_alpha(c) && !is_digit(c) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

bool valid_host_text(std::string_view host) {
    for (char c : host)
        if (contains("\"<>\\^`{|}/?#@[]", std::string_view(&c, 1))) return false;
    return true;
}

// Empty means "the scheme's default"; otherwise 1 to 65535 in plain digits.
bool parse_port(std::string_view text, std::uint16_t& port) {
    port = 0;
    if (text.empty()) return true;
    if (text.size() > 5) return false;   // no port needs more digits
    const std::optional<std::uint64_t> value = parse_decimal(text);
    if (!value || !port_in_range(static_cast<std::int64_t>(*value))) return false;
    port = static_cast<std::uint16_t>(*value);
    return true;
}

}  // namespace

bool crack_base_url(std::string_view url, BaseUrlParts& parts) {
    parts = BaseUrlParts{};
    if (has_blank_or_control(url)) return false;
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos || !valid_scheme(url.substr(0, colon))) return false;

    std::string_view rest = url.substr(colon + 3);
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

    // User name and password are not used; the host follows the last '@'.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);

    std::string_view host;
    std::string_view port_text;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return false;
            port_text = after.substr(1);
        }
        for (char c : host)
            if (!is_digit(c) && !contains("abcdefABCDEF:.", std::string_view(&c, 1))) return false;
    } else {
        const std::size_t port_colon = authority.rfind(':');
        host = authority.substr(0, port_colon);
        if (port_colon != std::string_view::npos) port_text = authority.substr(port_colon + 1);
        if (!valid_host_text(host) || contains(host, ":")) return false;
    }
    if (!parse_port(port_text, parts.port)) return false;

    parts.scheme = std::string(url.substr(0, colon));
    parts.host = std::string(host);
    parts.path = std::string(path);
    return true;
}

std::string url_for_display(std::string_view url) {
    const std::size_t scheme_end = url.find("://");
    const std::size_t start = scheme_end == std::string_view::npos ? 0 : scheme_end + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::size_t at = url.substr(0, end).rfind('@');
    if (at == std::string_view::npos || at < start) return std::string(url);
    const std::size_t colon = url.substr(0, at).find(':', start);
    if (colon == std::string_view::npos) return std::string(url);
    return std::string(url.substr(0, colon + 1)) + "***" + std::string(url.substr(at));
}

std::string api_base_url_problem(std::string_view url) {
    if (url.empty()) return "the API base URL is empty";
    const std::string shown = url_for_display(url);
    BaseUrlParts parts;
    if (!crack_base_url(url, parts)) return "not a valid URL: " + shown;
    const std::string scheme = ascii_lower(parts.scheme);
    if (scheme != "http" && scheme != "https") return "the API base URL must be http or https: " + shown;
    if (parts.host.empty()) return "the API base URL has no host: " + shown;
    return {};
}

bool api_client_init(ApiClient& client, std::string_view base_url, std::string& error) {
    if (client.session) api_client_close(client);
    if (std::string problem = api_base_url_problem(base_url); !problem.empty()) {
        error = std::move(problem);
        return false;
    }
    BaseUrlParts parts;
    crack_base_url(base_url, parts);
    client.secure = ascii_lower(parts.scheme) == "https";
    client.host = parts.host;
    client.port = parts.port != 0 ? parts.port : static_cast<std::uint16_t>(client.secure ? 443 : 80);
    std::string_view path = parts.path;
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    client.base_path = std::string(path);
    return api_session_open(client, error);
}
