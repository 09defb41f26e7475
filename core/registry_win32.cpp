// Registry strings under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
#include "core/registry.h"

#include "core/text.h"

#include <windows.h>

#include <vector>

std::optional<std::string> read_registry_string(std::string_view subkey,
                                                std::string_view value_name,
                                                RegistryHive hive) {
    const std::wstring wide_subkey = utf8_to_wide(subkey);
    const std::wstring wide_name = utf8_to_wide(value_name);

    HKEY key = nullptr;
    HKEY top = hive == RegistryHive::local_machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (RegOpenKeyExW(top, wide_subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // First ask for type and size, then read into a zero-filled buffer one
    // character longer than the data, so an unterminated value still ends.
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        RegCloseKey(key);
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
    DWORD read_size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    DWORD read_type = 0;
    rc = RegQueryValueExW(key, wide_name.c_str(), nullptr, &read_type,
                          reinterpret_cast<BYTE*>(buffer.data()), &read_size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (read_type != REG_SZ && read_type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    // Stored strings may carry one or more terminators; keep what precedes the first.
    std::wstring_view value(buffer.data(), buffer.size() - 1);
    std::size_t nul = value.find(L'\0');
    if (nul != std::wstring_view::npos) value = value.substr(0, nul);
    return wide_to_utf8(value);
}
