#include "support/system.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <dirent.h>
#include <string.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace tarncore {

std::optional<NativeString> get_env(std::string_view name) {
    const char* value = ::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return NativeString(value);
}

bool set_env(std::string_view name, const NativeString& value) {
    return ::setenv(std::string(name).c_str(), value.c_str(), 1) == 0;
}

bool unset_env(std::string_view name) {
    return ::unsetenv(std::string(name).c_str()) == 0;
}

Path module_file_name() {
    std::vector<char> buffer(4096);
    ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size()) return {};
    return Path(std::string(buffer.data(), static_cast<std::size_t>(got)));
}

bool copy_file_replace(const Path& source, const Path& target) {
    std::error_code ec;
    std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing,
                               ec);
    return !ec;
}

bool move_file(const Path& from, const Path& to, unsigned flags) {
    if (flags & kMoveDelayUntilReboot) return true;
    if (!(flags & kMoveReplaceExisting) && ::access(to.c_str(), F_OK) == 0) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool delete_file(const Path& path) {
    return ::unlink(path.c_str()) == 0;
}

std::string path_text(const Path& path) {
    return path.native();
}

NativeString native_from_text(std::string_view text) {
    return NativeString(text);
}

}  // namespace tarncore

namespace tarncore {

bool local_time(std::time_t when, std::tm& out) {
    return ::localtime_r(&when, &out) != nullptr;
}

LockState take_setup_lock(const Path& folder, std::uint32_t wait_ms) {
    // The descriptor stays open until the process ends, which drops the lock.
    static const int fd = [&folder] {
        std::optional<NativeString> dir;
        if (!folder.empty()) dir = folder.native();
        if (!dir) dir = get_env("XDG_RUNTIME_DIR");
        if (!dir || dir->empty()) return -1;
        const std::string file = *dir + "/tarnwick-setup-" + std::to_string(::getuid()) + ".lock";
        return ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }();
    if (fd < 0) return LockState::kUnavailable;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockState::kTaken;
        if (errno != EWOULDBLOCK && errno != EINTR) return LockState::kUnavailable;
        if (std::chrono::steady_clock::now() >= deadline) return LockState::kBusy;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace tarncore

namespace tarncore {

FileKind file_kind(const Path& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? FileKind::Missing : FileKind::Unknown;
    if (S_ISLNK(st.st_mode)) return FileKind::Link;
    return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::File;
}

Path final_path(const Path& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    Path result(resolved);
    ::free(resolved);
    return result;
}

bool delete_entry(const Path& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    const int rc = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    return rc == 0 || errno == ENOENT;
}

namespace {

// O_NONBLOCK keeps a FIFO from blocking the open; only regular files pass.
int open_regular(const Path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool read_regular_file(const Path& path, std::string& bytes) {
    const int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return false;
    std::string out;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    if (got < 0) return false;
    bytes = std::move(out);
    return true;
}

bool write_regular_file(const Path& path, std::string_view bytes) {
    const int fd = open_regular(path, O_WRONLY | O_CREAT);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, 0) == 0;
    while (ok && !bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        ok = put > 0;
        if (ok) bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return ::close(fd) == 0 && ok;
}

bool append_regular_file(const Path& path, std::string_view bytes) {
    const int fd = open_regular(path, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) return false;
    bool ok = true;
    while (ok && !bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        ok = put > 0;
        if (ok) bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return ::close(fd) == 0 && ok;
}

FileOutput::FileOutput(const Path& path) {
    const int fd = open_regular(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) {
        reason_ = last_error_text();
        failed_ = true;
        return;
    }
    handle_ = fd;
}

FileOutput::~FileOutput() {
    if (is_open()) ::close(static_cast<int>(handle_));
}

bool FileOutput::write(std::string_view bytes) {
    const int fd = static_cast<int>(handle_);
    while (!failed_ && !bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put <= 0) {
            reason_ = last_error_text();
            failed_ = true;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
        written_ += static_cast<std::uint64_t>(put);
    }
#if defined(__linux__)
    // Writeback starts every few MiB instead of all at the flush, so a large
    // download is mostly on the disk by the time its last byte arrives.
    constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;
    if (!failed_ && written_ - writeback_from_ >= kWritebackStep) {
        (void)::sync_file_range(fd, static_cast<off_t>(writeback_from_),
                                static_cast<off_t>(written_ - writeback_from_),
                                SYNC_FILE_RANGE_WRITE);
        writeback_from_ = written_;
    }
#endif
    return !failed_;
}

bool FileOutput::finish() {
    if (!is_open()) return false;
    const int fd = static_cast<int>(handle_);
    handle_ = kNone;
    if (!failed_ && ::fsync(fd) != 0) {
        reason_ = last_error_text();
        failed_ = true;
    }
    if (::close(fd) != 0 && !failed_) {
        reason_ = last_error_text();
        failed_ = true;
    }
    return !failed_;
}

bool may_replace(const Path& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
    return ::access(path.c_str(), W_OK) == 0 || errno != EACCES;
}

void copy_permissions(const Path& from, const Path& to) {
    // Only the execute bits: a read-only source must not make the copy so.
    struct stat source, target;
    if (::stat(from.c_str(), &source) == 0 && ::stat(to.c_str(), &target) == 0)
        (void)::chmod(to.c_str(), (target.st_mode | (source.st_mode & 0111)) & 07777);
}

std::optional<std::uint64_t> regular_file_size(const Path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool make_folder(const Path& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    struct stat st;
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool list_folder(const Path& folder, std::vector<Path>& entries) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") entries.push_back(folder / name);
    }
    ::closedir(dir);
    return true;
}

std::optional<std::uint64_t> free_disk_space(const Path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string last_error_text() {
    return ::strerror(errno);
}

std::string disk_full_text() {
    return ::strerror(ENOSPC);
}

}  // namespace tarncore
