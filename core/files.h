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

// How the help text names user_data_home(): "%LOCALAPPDATA%" on Windows (the
// name the user knows), the real folder elsewhere; empty when there is none.
std::string user_data_home_text();

// The running program's own file (/proc/self/exe, GetModuleFileNameW).
std::optional<std::filesystem::path> own_program_path();

// user_data_home() / "vantor". Neither checked nor created.
std::optional<std::filesystem::path> agent_data_folder();

// The whole file, in binary, shared with other readers and writers. Absent
// when the file cannot be opened; an empty file gives an empty string.
std::optional<std::string> read_whole_file(const std::filesystem::path& path);

// Who may read a file the agent writes. owner_only is for files that hold the
// GSI token: on POSIX they are created 0600, and an existing file loses its
// group and other bits (the rest are kept). Windows keeps the folder's ACL.
enum class FileAccess { shared, owner_only };

// Creates the missing parent folders, writes the bytes to a temporary file
// beside the target and replaces the target with it, so a failed write never
// leaves a half-written file behind (the old content survives). A symbolic
// link is written through: its final target is replaced, the link stays. On
// POSIX the new file keeps the permission bits of the one it replaces (less
// group and other for owner_only). The temporary file is opened
// close-on-exec. True when all bytes reached the disk and the replace
// succeeded.
bool write_whole_file(const std::filesystem::path& path, std::string_view bytes,
                      FileAccess access = FileAccess::shared);

// Takes group and other access away from an existing file (POSIX; true and
// nothing to do on Windows). False when its mode cannot be read or changed.
bool restrict_to_owner(const std::filesystem::path& path);

// Where a chain of symbolic links ends; the path itself when it is no link
// (or the chain cannot be read or runs in a circle). The target need not exist.
std::filesystem::path final_link_target(const std::filesystem::path& path);

// Keeps a damaged file the agent is about to rewrite, beside it as
// <stem>.broken-<local time>[-n]<extension> (agent.broken-20261208-051500.json).
// With its content at hand a copy is written, so a symbolic link stays a link;
// without, the file itself is moved there. The new path; empty when the file
// could not be kept.
std::filesystem::path keep_broken_file(const std::filesystem::path& file,
                                       const std::optional<std::string>& content, FileAccess access);

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
