#include "install/removal.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "support/layout.h"
#include "install/user_path.h"

namespace tarncore {
namespace fs = std::filesystem;
namespace {

bool gone(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory;
}

// Removes one entry; read-only files and folders are made writable first,
// since Windows refuses to delete a read-only file.
bool remove_entry(const Path& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write,
                    fs::perm_options::add | fs::perm_options::nofollow, ec);
    ec.clear();
    fs::remove(path, ec);
    return !ec || gone(ec);
}

// Each folder's content before the folder; links are removed, never followed.
bool remove_content(const Path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return gone(ec);
    bool ok = true;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return false;
        const Path entry = it->path();
        std::error_code kind_ec;
        if (it->is_directory(kind_ec) && !it->is_symlink(kind_ec)) {
            // A read-only POSIX folder refuses to give up its entries.
            fs::permissions(entry, fs::perms::owner_all, fs::perm_options::add, kind_ec);
            ok = remove_content(entry) && ok;
        }
        ok = remove_entry(entry) && ok;
    }
    return ok && !ec;
}

}  // namespace

Error remove_installation() {
    const Path root = install_root();
    // With LOCALAPPDATA unreadable every folder name would be relative to the
    // current folder; neither the PATH nor any file may be touched then.
    if (root.empty()) return install_error("LOCALAPPDATA is not available");

    TARN_TRY(remove_from_user_path(bin_dir().native()));
    if (!path_exists(root)) return {};

    // A file held briefly (an indexer, a virus scanner, a bot just ending)
    // lets go soon; try the whole tree again before giving up.
    constexpr int kAttempts = 10;
    bool removed = false;
    for (int attempt = 1; attempt <= kAttempts && !removed; ++attempt) {
        removed = remove_content(root) && remove_entry(root);
        if (!removed && attempt < kAttempts) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (!removed) return install_error("Could not remove " + path_text(root));
    return {};
}

}  // namespace tarncore
