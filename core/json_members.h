// Typed members of JSON objects that came from outside (GSI payloads, agent.json,
// the room files, API answers). Nothing here throws: a value that is not an
// object, a missing member and a member of another type all read as nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The member, or null when `object` is not an object or lacks it.
const nlohmann::json* json_member(const nlohmann::json& object, std::string_view key);

std::optional<std::string> json_string(const nlohmann::json& object, std::string_view key);
std::optional<bool> json_bool(const nlohmann::json& object, std::string_view key);

// A JSON integer (signed or unsigned, never a floating-point number) that fits
// in 64 signed bits.
std::optional<std::int64_t> json_int64(const nlohmann::json& object, std::string_view key);
