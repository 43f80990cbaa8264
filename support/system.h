// Process-level platform calls: environment, own executable, path text.
// Implemented by system_win32.cpp and system_posix.cpp.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

/// A regular file written from the start: created or truncated on opening,
/// written in pieces, flushed to the disk and closed by finish. On any
/// failure reason() holds the system's text for it.
class FileOutput {
public:
    explicit FileOutput(const Path& path);
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    bool is_open() const { return handle_ != kNone; }
    bool write(std::string_view bytes);
    /// Flushes the file to the disk and closes it; false when that or any
    /// earlier step failed.
    bool finish();
    const std::string& reason() const { return reason_; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
    bool failed_ = false;
    std::string reason_;
    std::uint64_t written_ = 0;         // bytes written so far
    std::uint64_t writeback_from_ = 0;  // where writeback was last started (POSIX)
};

/// False for an existing file that may not be replaced: the read-only
/// attribute on Windows, no write permission on POSIX. last_error_text()
/// then says so.
bool may_replace(const Path& path);
/// Gives `to` the execute permissions of `from` where the system has them
/// (POSIX mode bits, so a copied program stays executable).
void copy_permissions(const Path& from, const Path& to);
/// The size of a regular file (links followed); nullopt for anything else.
std::optional<std::uint64_t> regular_file_size(const Path& path);
/// Bytes the current user may still write on the disk that holds folder;
/// nullopt when the system cannot say.
std::optional<std::uint64_t> free_disk_space(const Path& folder);
/// Creates one folder; true also when a folder is there already.
bool make_folder(const Path& path);
/// The entries of a folder, unsorted, links not followed; false when the
/// folder cannot be listed.
bool list_folder(const Path& folder, std::vector<Path>& entries);

/// The system's text for the last failure of a file call on this thread.
std::string last_error_text();
/// The system's text for a full disk, as a write would report it.
std::string disk_full_text();

/// Narrow text of a path for messages, in the code page of the file functions.
std::string path_text(const Path& path);

/// Converts the narrow text of the program (UTF-8 on POSIX, the file code page
/// on Windows) into the platform's path string.
NativeString native_from_text(std::string_view text);

/// How taking the user's setup lock ended.
enum class LockState { kTaken, kBusy, kUnavailable };
/// The lock a setup run of this user holds until its process ends, killed or
/// not: a named mutex in the session's Local\ namespace named with the user's
/// SID (Windows), flock(2) on a file in folder (the installation root's
/// parent), or else XDG_RUNTIME_DIR (POSIX). Waits up to wait_ms for another
/// holder to let go.
LockState take_setup_lock(const Path& folder, std::uint32_t wait_ms);

/// Converts a time to the local calendar time (localtime_r / _localtime64_s).
bool local_time(std::time_t when, std::tm& out);

}  // namespace tarncore
