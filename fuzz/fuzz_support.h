// Small helpers shared by the fuzz targets: a scratch folder per process, the
// agent's console echo sent to /dev/null, and splitting an input into parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

// The event log echoes to stdout; a fuzzer run would spend its time printing.
inline void fuzz_silence_stdout() {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// A folder of this process under the system's temp folder, created once and
// removed when the run ends.
inline const std::filesystem::path& fuzz_scratch_folder() {
    // Never destroyed, so the exit handler can still use it.
    static const std::filesystem::path* const folder = [] {
        auto* path = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                               ("vantor-fuzz-" + std::to_string(::getpid())));
        std::filesystem::create_directories(*path);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(fuzz_scratch_folder(), ignored);
        });
        return path;
    }();
    return *folder;
}

// The input cut at every `separator` byte; at most `max_parts` parts (the last
// one keeps the rest, separators included).
inline std::vector<std::string_view> fuzz_split(const std::uint8_t* data, std::size_t size,
                                                char separator, std::size_t max_parts) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < max_parts) {
        const std::size_t cut = rest.find(separator);
        if (cut == std::string_view::npos) break;
        parts.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    parts.push_back(rest);
    return parts;
}

// Writes a file of the scratch folder, or removes it for an absent part.
inline void fuzz_put_file(const std::filesystem::path& path, const std::string_view* bytes) {
    std::error_code ignored;
    if (!bytes) {
        std::filesystem::remove(path, ignored);
        return;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (!bytes->empty() && std::fwrite(bytes->data(), 1, bytes->size(), file) != bytes->size()) std::abort();
    std::fclose(file);
}
