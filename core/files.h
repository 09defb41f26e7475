// Whole-file reading and writing and the agent data folder.
// None of these log or throw; each caller says what a failure means.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The user's local data folder: %LOCALAPPDATA% on Windows; $XDG_DATA_HOME
// (when it is an absolute path) or ~/.local/share elsewhere.
std::optional<std::filesystem::path> user_data_home();

// The running program's own file (/proc/self/exe, GetModuleFileNameW).
std::optional<std::filesystem::path> own_program_path();

// user_data_home() / "vantor". Neither checked nor created.
std::optional<std::filesystem::path> agent_data_folder();

// The whole file, in binary, shared with other readers and writers. Absent
// when the file cannot be opened; an empty file gives an empty string.
std::optional<std::string> read_whole_file(const std::filesystem::path& path);

// Creates the missing parent folders, writes the bytes to a temporary file
// beside the target and replaces the target with it, so a failed write never
// leaves a half-written file behind (the old content survives). On POSIX the
// new file keeps the permission bits of the one it replaces. The temporary
// file is opened close-on-exec. True when all bytes reached the disk and the
// replace succeeded.
bool write_whole_file(const std::filesystem::path& path, std::string_view bytes);

// Whether a folder, or a regular file, is there, following links (a dangling
// link is neither). A status that cannot be read counts as "not there".
bool folder_exists(const std::filesystem::path& path);
bool regular_file_exists(const std::filesystem::path& path);

// The parent folder as the whole-file write works it out: the last component
// and every separator ('\\' or '/') in front of it dropped, never the root.
std::filesystem::path parent_folder_of(const std::filesystem::path& path);

// The length of the drive ("C:") in front of a Windows path; 0 elsewhere.
std::size_t root_name_length(const std::filesystem::path& path);

// Opens a file for appending in binary mode, shared with other readers and
// writers, not inherited by programs the agent starts. Null when it cannot be
// opened.
std::FILE* open_for_append(const std::filesystem::path& path);
