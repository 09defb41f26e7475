// Reader for Valve's KeyValues text format (libraryfolders.vdf, registry.vdf,
// the GSI cfg): nested quoted keys and values in braces. Read-only; values are
// always byte strings, nothing is decoded besides the escapes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct KvChild;

struct KvNode {
    std::vector<std::pair<std::string, std::string>> pairs;   // file order, duplicates kept
    std::vector<KvChild> children;                            // file order, duplicates kept
};

struct KvChild {
    std::string key;
    KvNode node;
};

// Blocks may nest at most this many levels below the root.
inline constexpr int kKvMaxDepth = 32;

// The whole document, or nothing when it is not acceptable: a string left
// open at the end, a '{' where a key belongs, a key without a value, or
// nesting deeper than kKvMaxDepth. A UTF-8 byte order mark is skipped.
std::optional<KvNode> kv_parse(std::string_view text);

// First pair / child whose key equals `key` byte for byte (case matters).
// The pointers point into the tree and live as long as it does.
const std::string* kv_find_value(const KvNode& node, std::string_view key);
const KvNode* kv_find_child(const KvNode& node, std::string_view key);
