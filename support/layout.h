// The installation folder %LOCALAPPDATA%\Tarnwick, its sub-folders, and the
// file helpers every part of the installation engine uses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/error.h"
#include "support/system.h"

namespace tarncore {

/// The setup's own version (banner, install record "runtime" and "cli").
inline constexpr char kSetupVersion[] = "1.0.0";
/// The Lua library's version (install record "module" and "version", versions\1.2.4).
inline constexpr char kModuleVersion[] = "1.2.4";
inline constexpr char kRuntimeFileName[] = "tarn.exe";
inline constexpr char kAliasFileName[] = "tarnwick.exe";

/// Where an installation lives, resolved once by the front end and handed
/// down. Without LOCALAPPDATA the root is empty and the folders are relative
/// names, which each step that writes refuses.
struct Layout {
    Path root;
    Path bin;
    Path modules;
    Path config;
    Path install_record;   // config\install.json
    Path install_pending;  // config\install.pending: between the module step and the record
    Path cache;
    Path logs;
    Path versions;
    Path tools;

    Layout() : Layout(Path()) {}
    explicit Layout(const Path& installation_root);
    bool available() const { return !root.empty(); }
};
/// The layout of %LOCALAPPDATA%\Tarnwick for the variable's value; the root is
/// empty when the value is missing, empty, or 260 characters or longer.
Layout layout_for(const std::optional<NativeString>& local_app_data);

/// The failure of an installation step: code 10, module "tarnwick", function "setup".
Error install_error(std::string message);

/// Creates the folder and its missing parents; true when nothing failed.
bool ensure_dir(const Path& path);
/// True for an existing object; false for a missing one or any error asking.
bool path_exists(const Path& path);
/// Reads a whole regular file; false for anything else, never an exception.
bool read_file(const Path& path, std::string& text);

/// How placing a file whole ended. On a failure `reason` is the system's text.
struct [[nodiscard]] Placement {
    enum Failure { kNone, kWrite, kSwap };
    Failure failure = kNone;
    std::string reason;
    bool ok() const { return failure == kNone; }
};

/// The one way a file of the installation is written, so a kill, a full disk
/// or a locked file never leaves it cut: the bytes go to target.new, which is
/// flushed to the disk and then moved over target. A target that cannot be
/// overwritten (a running program) is moved aside to target.old first, and
/// target.old is deleted when nothing maps it any more. kWrite: target.new
/// could not be written whole, and what was written of it is deleted again;
/// a read-only target is refused the same way. kSwap: target.new is whole but
/// could not take target's place, and stays. No parent folder is made.
Placement place_bytes(const Path& target, std::string_view bytes);
/// place_bytes for bytes that arrive in pieces, such as a download: each
/// write goes on to target.new at once, commit flushes it and moves it over
/// target. Dropped without a commit, it deletes its target.new.
class FilePlacement {
public:
    /// size, when known, is what the whole file will take (for the log of a
    /// full disk).
    explicit FilePlacement(Path target, std::uint64_t size = 0);
    ~FilePlacement();
    FilePlacement(const FilePlacement&) = delete;
    FilePlacement& operator=(const FilePlacement&) = delete;

    /// False once a write has failed; later bytes are dropped and commit says why.
    bool write(std::string_view bytes);
    /// What was written is void: target.new starts again from nothing.
    void restart();
    /// permissions_from, when given, lends its execute permissions to the file.
    Placement commit(const Path* permissions_from = nullptr);

private:
    bool begin();
    void discard();
    Placement write_failure(std::string reason) const;
    Placement fault_failure() const;

    Path target_;
    Path fresh_;
    std::unique_ptr<FileOutput> out_;
    Placement state_;
    std::uint64_t size_;
    std::uint64_t written_ = 0;
    std::uint64_t number_ = 0;
    std::uint64_t limit_ = UINT64_MAX;  // bytes the test seam lets through
    bool begun_ = false;
    bool faulty_ = false;
    bool stop_ = false;
    bool committed_ = false;
};
/// place_bytes with the content of the file source.
Placement place_copy(const Path& source, const Path& target);
/// The words of a failed placement for the log: "<target> (<reason>)".
std::string placement_detail(const Path& target, const Placement& placement);
/// error, carrying a failed placement's words as its detail: the report keeps
/// its fixed text, the log gets the path and the system's reason.
Error with_placement(Error error, const Path& target, const Placement& placement);

/// Test seam for the placements of this process: from placement number
/// `files` on (counted from 0 when set), `bytes` bytes into it, writing fails
/// as on a full disk (kFail, and so does every later write), or the process
/// behaves as killed there (kStop: the partial target.new stays, and nothing
/// more is written).
struct PlacementFault {
    enum Kind { kNone, kFail, kStop };
    Kind kind = kNone;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};
void set_placement_fault(const PlacementFault& fault);

/// place_bytes, as a yes or no.
bool write_file(const Path& path, std::string_view bytes);
/// Creates the target's parent (result ignored), then places a copy.
bool copy_with_parents(const Path& source, const Path& target);
/// Deletes folder with everything below it without ever leaving it: links of
/// any kind are removed as links and never entered, and a folder whose final
/// path lies outside the folder's own is left alone. A folder that is itself a
/// link is refused and nothing is deleted. A missing folder is no failure.
/// On false, failure says what was left alone on purpose; it stays empty when
/// a deletion simply failed (a file in use).
bool remove_tree(const Path& folder, std::string& failure);
/// Whether path, every link followed, ends in or below folder (also
/// followed): the rule by which the removal walk stays inside its folder.
bool resolves_inside(const Path& folder, const Path& path);
/// The running program's path; empty when the system's answer is 260 or longer.
Path executable_path();

}  // namespace tarncore
