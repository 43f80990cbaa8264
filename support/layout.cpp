#include "support/layout.h"

#include <system_error>
#include <vector>

#include "support/ascii.h"

namespace tarncore {
namespace {

// The system's path buffers hold 260 characters including the terminator.
constexpr std::size_t kMaxPathChars = 260;

// Whether path lies in or below root; both are final paths, so no link or
// ".." is left in either.
bool contained(const Path& root, const Path& path) {
    const NativeString& r = root.native();
    const NativeString& p = path.native();
    if (r.empty() || p.size() < r.size() || p.compare(0, r.size(), r) != 0) return false;
    return p.size() == r.size() || p[r.size()] == Path::preferred_separator ||
           r.back() == Path::preferred_separator;
}

// The tree being removed: its final path and the path it was given as.
struct Tree {
    Path root;
    Path shown;
};

// Whether path, a folder or a file, resolves to a place inside the tree;
// otherwise failure names it.
bool inside(const Tree& tree, const Path& path, std::string& failure) {
    if (contained(tree.root, final_path(path))) return true;
    failure = path_text(path) + " leads outside " + path_text(tree.shown) + " and was left alone";
    return false;
}

// The folder's content, then the folder; see remove_tree. Under Wine a Unix
// link to a file shows as a plain file, and deleting it deletes its target:
// files are checked like folders.
bool remove_below(const Tree& tree, const Path& folder, std::string& failure) {
    if (!inside(tree, folder, failure)) return false;
    std::error_code ec;
    // A read-only POSIX folder refuses to give up its entries.
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::vector<Path> entries;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        entries.push_back(it->path());
    }
    bool ok = !ec || ec == std::errc::no_such_file_or_directory;
    for (const Path& entry : entries) {
        const FileKind kind = file_kind(entry);
        if (kind == FileKind::Folder) {
            ok = remove_below(tree, entry, failure) && ok;
        } else if (kind == FileKind::File && !inside(tree, entry, failure)) {
            ok = false;
        } else if (!delete_entry(entry)) {
            // Wine cannot delete a link to a folder without reaching into it.
            if (kind == FileKind::Link) {
                failure =
                    path_text(entry) + " is a link that could not be deleted and was left alone";
            }
            ok = false;
        }
    }
    return ok && delete_entry(folder);
}

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
    return read_regular_file(path, text);
}

bool write_file(const Path& path, std::string_view bytes) {
    return write_regular_file(path, bytes);
}

bool copy_with_parents(const Path& source, const Path& target) {
    (void)ensure_dir(target.parent_path());
    return copy_file_replace(source, target);
}

bool remove_tree(const Path& folder, std::string& failure) {
    failure.clear();
    const FileKind kind = file_kind(folder);
    if (kind == FileKind::Missing) return true;
    if (kind == FileKind::File) return delete_entry(folder);
    if (kind == FileKind::Unknown) return false;
    // Under Wine a Unix symbolic link shows as a plain folder: the folder must
    // resolve to its own name inside its own parent.
    const Path root = final_path(folder);
    const Path parent = final_path(folder.parent_path().empty() ? Path(".") : folder.parent_path());
    const bool named_itself =
        kind == FileKind::Folder && !root.empty() && root.parent_path() == parent &&
        equals_ignoring_ascii_case(path_text(root.filename()), path_text(folder.filename()));
    if (kind == FileKind::Link || !named_itself) {
        failure = path_text(folder) + " is a link; nothing was deleted";
        return false;
    }
    return remove_below(Tree{root, folder}, folder, failure);
}

bool resolves_inside(const Path& folder, const Path& path) {
    return contained(final_path(folder), final_path(path));
}

Path executable_path() {
    Path path = module_file_name();
    if (path.native().size() >= kMaxPathChars) return {};
    return path;
}

}  // namespace tarncore
