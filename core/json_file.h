// The one format of the JSON files the agent writes (settings, room files), so
// that a player comparing or editing them sees one layout.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// Indent of two, keys in byte order, UTF-8 as it is, one line feed at the end.
// Bytes that are not UTF-8 are replaced rather than ending the write.
std::string json_file_text(const nlohmann::json& value);
