// KeyValues text (libraryfolders.vdf, registry.vdf, the GSI cfg): parse, then
// walk the tree the way discovery looks things up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/keyvalues.h"

namespace {

void walk(const KvNode& node, int depth) {
    if (depth > kKvMaxDepth) std::abort();   // deeper than the reader allows
    for (const auto& [key, value] : node.pairs) {
        if (kv_find_value(node, key) == nullptr) std::abort();
    }
    for (const KvChild& child : node.children) {
        if (kv_find_child(node, child.key) == nullptr) std::abort();
        walk(child.node, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const std::optional<KvNode> root = kv_parse(text)) walk(*root, 0);
    return 0;
}
