#include "support/layout.h"

#include <fstream>
#include <system_error>

namespace tarncore {
namespace {

// The system's path buffers hold 260 characters including the terminator.
constexpr std::size_t kMaxPathChars = 260;

}  // namespace

Path install_root() {
    std::optional<NativeString> value = get_env("LOCALAPPDATA");
    if (!value || value->empty() || value->size() >= kMaxPathChars) return {};
    return Path(*value) / "Tarnwick";
}

Path bin_dir() {
    return install_root() / "bin";
}
Path modules_dir() {
    return install_root() / "modules";
}
Path config_dir() {
    return install_root() / "config";
}
Path install_record_path() {
    return config_dir() / "install.json";
}
Path cache_dir() {
    return install_root() / "cache";
}
Path logs_dir() {
    return install_root() / "logs";
}
Path versions_dir() {
    return install_root() / "versions";
}
Path tools_dir() {
    return install_root() / "tools";
}

Error install_error(std::string message) {
    return Error(kErrFile, "tarnwick", "setup", std::move(message));
}

bool ensure_dir(const Path& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return !ec;
}

bool path_exists(const Path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec) && !ec;
}

bool read_file(const Path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool write_file(const Path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return static_cast<bool>(out);
}

bool copy_with_parents(const Path& source, const Path& target) {
    (void)ensure_dir(target.parent_path());
    return copy_file_replace(source, target);
}

Path executable_path() {
    Path path = module_file_name();
    if (path.native().size() >= kMaxPathChars) return {};
    return path;
}

}  // namespace tarncore
