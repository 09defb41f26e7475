// Away from Windows, Steam keeps its "registry" in ~/.steam/registry.vdf:
// Registry/HKCU/Software/Valve/Steam/... (and HKLM/...) as a KeyValues tree.
// The real client writes only a few values there (the language, the
// auto-login user, HKLM's SteamPID); a missing file is the common case. Like the Windows
// registry, key and value names are compared without regard to case.
#include "core/registry.h"

#include "core/files.h"
#include "core/keyvalues.h"
#include "core/text.h"

#include <cstdlib>

namespace {

const KvNode* child_named(const KvNode& node, std::string_view name) {
    for (const auto& child : node.children) {
        if (equal_ignoring_ascii_case(child.key, name)) return &child.node;
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> read_registry_string(std::string_view subkey,
                                                std::string_view value_name,
                                                RegistryHive hive) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::nullopt;
    auto text = read_whole_file(path_from_utf8(home) / ".steam" / "registry.vdf");
    if (!text) return std::nullopt;
    auto root = kv_parse(*text);
    if (!root) return std::nullopt;

    const KvNode* node = child_named(*root, "Registry");
    if (node) node = child_named(*node, hive == RegistryHive::local_machine ? "HKLM" : "HKCU");
    // Walk the subkey's components; empty ones ("a\\b", a trailing '\') are skipped.
    while (node && !subkey.empty()) {
        std::size_t cut = subkey.find('\\');
        std::string_view part = subkey.substr(0, cut);
        subkey = cut == std::string_view::npos ? std::string_view{} : subkey.substr(cut + 1);
        if (!part.empty()) node = child_named(*node, part);
    }
    if (!node) return std::nullopt;
    for (const auto& pair : node->pairs) {
        if (equal_ignoring_ascii_case(pair.first, value_name)) {
            std::string_view value = pair.second;
            std::size_t nul = value.find('\0');
            if (nul != std::string_view::npos) value = value.substr(0, nul);
            return std::string(value);
        }
    }
    return std::nullopt;
}
