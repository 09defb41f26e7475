#include "console/shared_file.h"

#include "core/text.h"

#include <windows.h>

namespace {

HANDLE handle_of(const SharedFile& file) {
    return reinterpret_cast<HANDLE>(file.handle);
}

}  // namespace

SharedOpen shared_file_open(SharedFile& file, const std::filesystem::path& path) {
    // Full sharing: CS2 keeps writing, and may delete or recreate the file.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return SharedOpen::failed;
    // A pipe, the console or another device: reads could block or never end.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return SharedOpen::not_regular;
    }
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    return SharedOpen::opened;
}

bool shared_file_size(SharedFile& file, std::uint64_t& size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_of(file), &value) || value.QuadPart < 0)
        return false;
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool shared_file_read_into(SharedFile& file, std::uint64_t offset, char* into, std::size_t count,
                           std::size_t& got) {
    got = 0;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_of(file), position, nullptr, FILE_BEGIN))
        return false;
    DWORD read = 0;
    if (!ReadFile(handle_of(file), into, static_cast<DWORD>(count), &read, nullptr))
        return false;
    got = read;
    return true;
}

void shared_file_close(SharedFile& file) {
    if (file.handle != -1)
        CloseHandle(handle_of(file));
    file.handle = -1;
}
