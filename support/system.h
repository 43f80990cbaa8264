// Process-level platform calls: environment, own executable, path text.
// Implemented by system_win32.cpp and system_posix.cpp.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarncore {

using Path = std::filesystem::path;
/// The platform's own path string: UTF-16 on Windows, bytes on POSIX.
using NativeString = Path::string_type;

/// Value of an environment variable of this process; nullopt when unset.
std::optional<NativeString> get_env(std::string_view name);
/// Sets an environment variable of this process (inherited by children).
bool set_env(std::string_view name, const NativeString& value);
/// Removes a variable; used by tests to simulate an unavailable one.
bool unset_env(std::string_view name);

/// Full path of the running program as the system reports it, unlimited.
Path module_file_name();

/// Copies a file, replacing an existing target (CopyFileW on Windows, where the
/// MinGW standard library's overwrite fails).
bool copy_file_replace(const Path& source, const Path& target);

/// MoveFileExW's flag values; the POSIX build keeps the numbers so callers
/// are written once.
enum MoveFlags : unsigned {
    kMoveReplaceExisting = 1,
    kMoveDelayUntilReboot = 4,
    kMoveWriteThrough = 8,
};
/// MoveFileExW (Windows) or rename(2) (POSIX). With kMoveDelayUntilReboot and
/// an empty target the file is deleted at the next restart; POSIX has no such
/// thing and reports success, since nothing there holds a running image.
bool move_file(const Path& from, const Path& to, unsigned flags);
/// DeleteFileW / unlink; false when the file stays.
bool delete_file(const Path& path);

/// What a path names, the last component not followed. On Windows every
/// reparse point (symbolic link, junction, mount point) is a Link.
enum class FileKind { Missing, File, Folder, Link, Unknown };
FileKind file_kind(const Path& path);
/// The path with every link resolved (GetFinalPathNameByHandleW / realpath);
/// empty when it cannot be resolved.
Path final_path(const Path& path);
/// Deletes one file, link or empty folder, a read-only file included; a link
/// is removed itself. A missing entry counts as deleted.
bool delete_entry(const Path& path);

/// Whole-file reading and writing of regular files only: a folder, a device or
/// a denied open gives false, never an exception. Writing creates or truncates.
bool read_regular_file(const Path& path, std::string& bytes);
bool write_regular_file(const Path& path, std::string_view bytes);
/// Adds the bytes at the end of a regular file, created when missing.
bool append_regular_file(const Path& path, std::string_view bytes);

/// Narrow text of a path for messages, in the code page of the file functions.
std::string path_text(const Path& path);

/// Converts the narrow text of the program (UTF-8 on POSIX, the file code page
/// on Windows) into the platform's path string.
NativeString native_from_text(std::string_view text);

/// Converts a time to the local calendar time (localtime_r / _localtime64_s).
bool local_time(std::time_t when, std::tm& out);

}  // namespace tarncore
