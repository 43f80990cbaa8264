#include "tests/common/test_env.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

namespace tarntest {
namespace fs = std::filesystem;

namespace {

void make_writable_tree(const Path& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    if (!fs::is_directory(root, ec)) return;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string name = "tarnwick-test-" + std::to_string(rd()) + "-" + std::to_string(stamp) +
                       "-" + std::to_string(counter++);
    path_ = fs::temp_directory_path() / name;
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    make_writable_tree(path_);
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<tarncore::NativeString> value)
    : name_(std::move(name)), old_(tarncore::get_env(name_)) {
    if (value) {
        (void)tarncore::set_env(name_, *value);
    } else {
        (void)tarncore::unset_env(name_);
    }
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        (void)tarncore::set_env(name_, *old_);
    } else {
        (void)tarncore::unset_env(name_);
    }
}

Path source_path(const std::string& relative) {
    return host_path(std::string(TARN_SOURCE_DIR) + "/" + relative);
}

void set_read_only(const Path& path, bool read_only) {
    std::error_code ec;
    constexpr auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(path, write, read_only ? fs::perm_options::remove : fs::perm_options::add,
                    ec);
    if (fs::is_directory(path, ec)) set_folder_read_only(path, read_only);
}

}  // namespace tarntest
