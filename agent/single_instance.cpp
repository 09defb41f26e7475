#include "agent/single_instance.h"

#include <charconv>

#include "core/files.h"

std::uint32_t lock_file_pid(const std::filesystem::path& data_folder) {
    const std::optional<std::string> text = read_whole_file(data_folder / kLockFileName);
    std::uint32_t pid = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), pid);
    return pid;
}

std::string already_running_text(std::uint32_t pid) {
    return "vantor-agent is already running" +
           (pid != 0 ? " (pid " + std::to_string(pid) + ")" : std::string());
}
