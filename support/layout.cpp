#include "support/layout.h"

#include <algorithm>
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
    bool ok = list_folder(folder, entries) || file_kind(folder) == FileKind::Missing;
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

// The seam's setting and how many placements this process has begun.
PlacementFault placement_fault;
std::uint64_t placements_begun = 0;

Path with_suffix(const Path& target, const char* suffix) {
    Path result = target;
    result += suffix;
    return result;
}

Placement swap_in(const Path& fresh, const Path& target) {
    if (move_file(fresh, target, kMoveReplaceExisting | kMoveWriteThrough)) return {};
    // A running executable cannot be overwritten, but it can be renamed.
    const Path old = with_suffix(target, ".old");
    if (file_kind(target) != FileKind::File) return {Placement::kSwap, last_error_text()};
    if (path_exists(old)) (void)delete_file(old);
    if (!move_file(target, old, kMoveReplaceExisting)) return {Placement::kSwap, last_error_text()};
    if (!move_file(fresh, target, kMoveReplaceExisting | kMoveWriteThrough)) {
        Placement refused{Placement::kSwap, last_error_text()};
        (void)move_file(old, target, kMoveReplaceExisting);
        return refused;
    }
    // The old image stays mapped until its process ends; a later run deletes
    // it when the restart would not (an ordinary user may not schedule that).
    if (!delete_file(old)) (void)move_file(old, Path(), kMoveDelayUntilReboot);
    return {};
}

Placement place(const Path& target, std::string_view bytes, const Path* mode_from) {
    FilePlacement placement(target, bytes.size());
    (void)placement.write(bytes);
    return placement.commit(mode_from);
}

}  // namespace

FilePlacement::FilePlacement(Path target, std::uint64_t size)
    : target_(std::move(target)), fresh_(with_suffix(target_, ".new")), size_(size) {}

// The test seam's full disk, or its kill.
Placement FilePlacement::fault_failure() const {
    return stop_ ? Placement{Placement::kWrite, "stopped"} : write_failure(disk_full_text());
}

// A write that failed part-way may have met a full disk: what the file
// needed and what the disk has left belong beside the system's reason.
Placement FilePlacement::write_failure(std::string reason) const {
    const std::optional<std::uint64_t> free = free_disk_space(target_.parent_path());
    reason += "; " + std::to_string(written_) + " of " +
              (size_ > 0 ? std::to_string(size_) : std::string("an unknown number of")) +
              " bytes written, " + (free ? std::to_string(*free) : std::string("unknown")) +
              " bytes free";
    return {Placement::kWrite, std::move(reason)};
}

FilePlacement::~FilePlacement() {
    if (!committed_) discard();
}

// Once, at the first byte or the commit: the seam's count, the target's
// checks and target.new opened.
bool FilePlacement::begin() {
    if (begun_) return state_.ok();
    begun_ = true;
    number_ = placements_begun++;
    faulty_ = placement_fault.kind != PlacementFault::kNone && number_ >= placement_fault.files;
    stop_ = faulty_ && placement_fault.kind == PlacementFault::kStop;
    if (faulty_) limit_ = placement_fault.bytes;
    // Only a regular file is replaced: never a device, and a folder stays
    // where it is (the swap refuses to move it aside).
    if (stop_ && number_ > placement_fault.files) {
        state_ = {Placement::kWrite, "stopped"};
        return false;
    }
    const FileKind kind = file_kind(target_);
    if (kind == FileKind::Unknown) {
        state_ = {Placement::kWrite, last_error_text()};
    } else if (kind == FileKind::File && !regular_file_size(target_)) {
        state_ = {Placement::kWrite, "not a regular file"};
    } else if (!may_replace(target_)) {
        state_ = {Placement::kWrite, last_error_text()};
    } else {
        out_ = std::make_unique<FileOutput>(fresh_);
        if (!out_->is_open()) state_ = {Placement::kWrite, out_->reason()};
    }
    return state_.ok();
}

bool FilePlacement::write(std::string_view bytes) {
    if (!begin()) return false;
    constexpr std::size_t kPiece = 1 << 20;
    while (!bytes.empty()) {
        if (limit_ == 0) {
            state_ = fault_failure();
            return false;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>({bytes.size(), kPiece, limit_}));
        if (!out_->write(bytes.substr(0, n))) {
            state_ = write_failure(out_->reason());
            return false;
        }
        bytes.remove_prefix(n);
        written_ += n;
        if (faulty_) limit_ -= n;
    }
    return true;
}

void FilePlacement::restart() {
    if (!begun_ || !state_.ok()) return;
    out_.reset();
    out_ = std::make_unique<FileOutput>(fresh_);
    if (!out_->is_open()) state_ = {Placement::kWrite, out_->reason()};
    written_ = 0;
    if (faulty_) limit_ = placement_fault.bytes;
}

Placement FilePlacement::commit(const Path* permissions_from) {
    if (begin()) {
        if (faulty_) {
            state_ = fault_failure();
        } else if (!out_->finish()) {
            state_ = write_failure(out_->reason());
        }
    }
    out_.reset();
    if (!state_.ok()) {
        discard();
        return state_;
    }
    if (permissions_from != nullptr) copy_permissions(*permissions_from, fresh_);
    committed_ = true;
    return swap_in(fresh_, target_);
}

// A killed process leaves its partial target.new; a folder in the way is
// not ours to delete and stays.
void FilePlacement::discard() {
    committed_ = true;
    out_.reset();
    if (begun_ && !stop_ && file_kind(fresh_) == FileKind::File) (void)delete_file(fresh_);
}

Placement place_bytes(const Path& target, std::string_view bytes) {
    return place(target, bytes, nullptr);
}

Placement place_copy(const Path& source, const Path& target) {
    std::string bytes;
    if (!read_regular_file(source, bytes)) {
        return {Placement::kWrite, path_text(source) + ": " + last_error_text()};
    }
    return place(target, bytes, &source);
}

std::string placement_detail(const Path& target, const Placement& placement) {
    return path_text(target) + " (" + placement.reason + ")";
}

Error with_placement(Error error, const Path& target, const Placement& placement) {
    error.detail = placement_detail(target, placement);
    return error;
}

void set_placement_fault(const PlacementFault& fault) {
    placement_fault = fault;
    placements_begun = 0;
}

Layout::Layout(const Path& installation_root)
    : root(installation_root),
      bin(root / "bin"),
      modules(root / "modules"),
      config(root / "config"),
      install_record(config / "install.json"),
      install_pending(config / "install.pending"),
      cache(root / "cache"),
      logs(root / "logs"),
      versions(root / "versions"),
      tools(root / "tools") {}

Layout layout_for(const std::optional<NativeString>& local_app_data) {
    if (!local_app_data || local_app_data->empty() || local_app_data->size() >= kMaxPathChars) {
        return Layout();
    }
    return Layout(Path(*local_app_data) / "Tarnwick");
}

Error install_error(std::string message) {
    return Error(kErrFile, "tarnwick", "setup", std::move(message));
}

// Folder by folder, so that a path past MAX_PATH works too.
bool ensure_dir(const Path& path) {
    if (path.empty()) return false;
    const FileKind kind = file_kind(path);
    if (kind == FileKind::Folder) return true;
    if (kind == FileKind::Link) {
        std::error_code ec;
        return std::filesystem::is_directory(path, ec);
    }
    if (kind != FileKind::Missing) return false;
    const Path parent = path.parent_path();
    if (!parent.empty() && parent != path && !ensure_dir(parent)) return false;
    return make_folder(path);
}

bool path_exists(const Path& path) {
    const FileKind kind = file_kind(path);
    return kind != FileKind::Missing && kind != FileKind::Unknown;
}

bool read_file(const Path& path, std::string& text) {
    return read_regular_file(path, text);
}

bool write_file(const Path& path, std::string_view bytes) {
    return place_bytes(path, bytes).ok();
}

bool copy_with_parents(const Path& source, const Path& target) {
    (void)ensure_dir(target.parent_path());
    return place_copy(source, target).ok();
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
