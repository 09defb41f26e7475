#include "core/json_members.h"

#include <limits>

using nlohmann::json;

const json* json_member(const json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::string> json_string(const json& object, std::string_view key) {
    const json* value = json_member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<bool> json_bool(const json& object, std::string_view key) {
    const json* value = json_member(object, key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<std::int64_t> json_int64(const json& object, std::string_view key) {
    const json* value = json_member(object, key);
    if (!value || !value->is_number_integer()) return std::nullopt;
    if (value->is_number_unsigned()) {
        const auto v = value->get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    return value->get<std::int64_t>();
}
