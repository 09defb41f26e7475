// Registry strings: the Windows registry under HKEY_CURRENT_USER, or away
// from Windows the same keys in Steam's own registry.vdf.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class RegistryHive { current_user, local_machine };   // HKCU, HKLM

// A REG_SZ or REG_EXPAND_SZ value under HKEY_CURRENT_USER (or the hive given),
// as UTF-8, cut at its first NUL. Absent when the key or value is missing or
// of another type.
std::optional<std::string> read_registry_string(std::string_view subkey,
                                                std::string_view value_name,
                                                RegistryHive hive = RegistryHive::current_user);
