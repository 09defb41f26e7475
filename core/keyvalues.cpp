#include "core/keyvalues.h"

#include <cstddef>

namespace {

enum class KvTokenKind { End, String, Open, Close };

struct KvToken {
    KvTokenKind kind = KvTokenKind::End;
    std::string text;
};

struct KvReader {
    std::string_view text;
    std::size_t pos = 0;
    bool error = false;   // a quoted string ran into the end of the text
};

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void skip_separators_and_comments(KvReader& r) {
    while (r.pos < r.text.size()) {
        char c = r.text[r.pos];
        if (is_separator(c)) {
            ++r.pos;
        } else if (c == '/' && r.pos + 1 < r.text.size() && r.text[r.pos + 1] == '/') {
            std::size_t eol = r.text.find('\n', r.pos + 2);
            r.pos = eol == std::string_view::npos ? r.text.size() : eol;
        } else {
            return;
        }
    }
}

std::string read_quoted(KvReader& r) {
    std::string out;
    ++r.pos;   // the opening quote
    while (r.pos < r.text.size()) {
        // Copy the run up to the next quote or backslash in one go.
        std::size_t stop = r.text.find_first_of("\"\\", r.pos);
        if (stop == std::string_view::npos) {
            out.append(r.text.substr(r.pos));
            r.pos = r.text.size();
            break;
        }
        out.append(r.text.substr(r.pos, stop - r.pos));
        r.pos = stop;
        if (r.text[r.pos] == '"') {
            ++r.pos;
            return out;
        }
        if (r.pos + 1 >= r.text.size()) {   // a trailing backslash stays one
            out.push_back('\\');
            r.pos = r.text.size();
            break;
        }
        char escaped = r.text[r.pos + 1];
        out.push_back(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
        r.pos += 2;
    }
    r.error = true;
    return out;
}

std::string read_unquoted(KvReader& r) {
    std::size_t stop = r.text.find_first_of(" \t\r\n{}", r.pos);
    if (stop == std::string_view::npos) stop = r.text.size();
    std::string out(r.text.substr(r.pos, stop - r.pos));
    r.pos = stop;
    return out;
}

KvToken kv_next_token(KvReader& r) {
    skip_separators_and_comments(r);
    if (r.pos >= r.text.size()) return {KvTokenKind::End, {}};
    char c = r.text[r.pos];
    if (c == '{') {
        ++r.pos;
        return {KvTokenKind::Open, {}};
    }
    if (c == '}') {
        ++r.pos;
        return {KvTokenKind::Close, {}};
    }
    if (c == '"') return {KvTokenKind::String, read_quoted(r)};
    return {KvTokenKind::String, read_unquoted(r)};
}

// Depth is bounded, so the recursion (and the tree's destruction) is too.
bool kv_parse_block(KvReader& r, KvNode& node, int depth) {
    if (depth > kKvMaxDepth) return false;
    for (;;) {
        KvToken token = kv_next_token(r);
        switch (token.kind) {
            case KvTokenKind::End:
            case KvTokenKind::Close:
                return true;
            case KvTokenKind::Open:
                return false;   // a block without a key
            case KvTokenKind::String:
                break;
        }
        KvToken value = kv_next_token(r);
        if (value.kind == KvTokenKind::String) {
            node.pairs.emplace_back(std::move(token.text), std::move(value.text));
        } else if (value.kind == KvTokenKind::Open) {
            KvChild child{std::move(token.text), {}};
            if (!kv_parse_block(r, child.node, depth + 1)) return false;
            node.children.push_back(std::move(child));
        } else {
            return false;   // a key without a value
        }
    }
}

}  // namespace

std::optional<KvNode> kv_parse(std::string_view text) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    KvReader reader{text};
    KvNode root;
    if (!kv_parse_block(reader, root, 0) || reader.error) return std::nullopt;
    return root;
}

const std::string* kv_find_value(const KvNode& node, std::string_view key) {
    for (const auto& pair : node.pairs) {
        if (pair.first == key) return &pair.second;
    }
    return nullptr;
}

const KvNode* kv_find_child(const KvNode& node, std::string_view key) {
    for (const auto& child : node.children) {
        if (child.key == key) return &child.node;
    }
    return nullptr;
}
