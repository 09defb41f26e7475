#include "core/files.h"

#include <windows.h>
#include <share.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <climits>
#include <string>
#include <system_error>

std::optional<std::filesystem::path> user_data_home() {
    PWSTR folder = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
    if (FAILED(hr) || folder == nullptr) {
        if (folder) CoTaskMemFree(folder);
        return std::nullopt;
    }
    std::filesystem::path result(folder);
    CoTaskMemFree(folder);
    return result;
}

std::string user_data_home_text() { return "%LOCALAPPDATA%"; }

std::optional<std::filesystem::path> own_program_path() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    buffer.resize(length);
    return std::filesystem::path(buffer);
}

std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string content;
    char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            CloseHandle(file);
            return std::nullopt;
        }
        if (got == 0) break;
        content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
}

static bool write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return FlushFileBuffers(file) != 0;
}

bool write_whole_file(const std::filesystem::path& link_or_file, std::string_view bytes, FileAccess) {
    // Through a link to its target: MoveFileExW would replace the link itself.
    const std::filesystem::path path = final_link_target(link_or_file);
    const std::filesystem::path parent = parent_folder_of(path);
    if (!parent.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(parent, ignored);
    }
    static std::atomic<unsigned> counter{0};
    std::wstring temp = path.native() + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(counter.fetch_add(1));
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = write_all(file, bytes);
    CloseHandle(file);
    if (written) {
        // The game may hold the target open for a moment while it runs a cfg.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (MoveFileExW(temp.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            Sleep(10);
        }
    }
    DeleteFileW(temp.c_str());
    return false;
}

// The data folder under %LOCALAPPDATA% is the user's alone already.
bool restrict_to_owner(const std::filesystem::path&) { return true; }

std::FILE* open_for_append(const std::filesystem::path& path) {
    return _wfsopen(path.c_str(), L"ab", _SH_DENYNO);
}

std::size_t root_name_length(const std::filesystem::path& path) {
    const std::wstring& s = path.native();
    return s.size() >= 2 && s[1] == L':' ? 2 : 0;
}
