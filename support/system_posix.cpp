#include "support/system.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <system_error>
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

}  // namespace tarncore
