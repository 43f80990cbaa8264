#include "tests/common/test_env.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

#include "support/layout.h"

namespace tarntest {
namespace fs = std::filesystem;

std::string unique_name(const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return prefix + std::to_string(rd()) + "-" + std::to_string(stamp) + "-" +
           std::to_string(counter++);
}

TempDir::TempDir() : path_(fs::temp_directory_path() / unique_name("tarnwick-test-")) {
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::string failure;
    (void)tarncore::remove_tree(path_, failure);
}

namespace {

void put_env(const std::string& name, const std::optional<tarncore::NativeString>& value) {
    (void)(value ? tarncore::set_env(name, *value) : tarncore::unset_env(name));
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, std::optional<tarncore::NativeString> value)
    : name_(std::move(name)), old_(tarncore::get_env(name_)) {
    put_env(name_, value);
}

ScopedEnv::~ScopedEnv() {
    put_env(name_, old_);
}

ScopedCurrentDir::ScopedCurrentDir(const Path& folder) : old_(fs::current_path()) {
    fs::current_path(folder);
}

ScopedCurrentDir::~ScopedCurrentDir() {
    std::error_code ec;
    fs::current_path(old_, ec);
}

std::set<std::string> files_below(const Path& root) {
    std::set<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec))
            out.insert(fs::relative(it->path(), root, ec).generic_string());
    }
    return out;
}

Path source_path(const std::string& relative) {
    return host_path(std::string(TARN_SOURCE_DIR) + "/" + relative);
}

void set_read_only(const Path& path, bool read_only) {
    std::error_code ec;
    constexpr auto write =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(path, write, read_only ? fs::perm_options::remove : fs::perm_options::add, ec);
    if (fs::is_directory(path, ec)) set_folder_read_only(path, read_only);
}

}  // namespace tarntest
