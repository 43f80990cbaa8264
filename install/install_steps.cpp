#include "install/install_steps.h"

#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "support/layout.h"
#include "install/modules.h"
#include "install/record.h"
#include "install/rollback.h"
#include "install/user_path.h"
#include "support/logger.h"
#include "support/output.h"

namespace tarncore {
namespace {

void say(const std::string& line) {
    console_out() << line << std::flush;
}

Path with_suffix(const Path& target, const char* suffix) {
    Path result = target;
    result += suffix;
    return result;
}

// Each step's result goes to the log file; the console shows only the step.
// The detail is said here, once.
Error logged(const char* step, Error error) {
    Logger::instance().detail(
        "install",
        std::string(step) + (error.failed() ? " failed: " + logged_message(error) : " done"));
    error.detail.clear();
    return error;
}

bool same_file(const Path& a, const Path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

void remove_matching(const Path& folder, const NativeString& suffix, bool below) {
    std::vector<Path> entries;
    if (!list_folder(folder, entries)) return;
    for (const Path& entry : entries) {
        const FileKind kind = file_kind(entry);
        if (kind == FileKind::Folder && below) remove_matching(entry, suffix, below);
        const NativeString& name = entry.native();
        if (kind == FileKind::File && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            (void)delete_file(entry);
        }
    }
}

}  // namespace

void remove_leftovers(const Layout& layout) {
    if (!layout.available()) return;
    // A file still mapped by a running bot refuses and stays for a later run.
    remove_matching(layout.bin, native_from_text(".old"), false);
    remove_matching(layout.root, native_from_text(".new"), true);
}

bool replace_file(const Path& source, const Path& target) {
    (void)ensure_dir(target.parent_path());
    return place_copy(source, target).ok();
}

Error place_file(const Path& source, const Path& target) {
    (void)ensure_dir(target.parent_path());
    // While a whole copy offered by an in-use refusal waits beside the
    // target, a target that already holds the bytes (a rollback to the runtime
    // the refused swap left in place) is not placed again over that copy.
    std::string have, want;
    if (file_kind(with_suffix(target, ".new")) == FileKind::File && read_file(target, have) &&
        read_file(source, want) && have == want) {
        return {};
    }
    const Placement placed = place_copy(source, target);
    if (placed.ok()) return {};
    const Path fresh = with_suffix(target, ".new");
    // Only a whole copy that could not take the target's place is offered to
    // the user; a failed one has been deleted again.
    if (placed.failure == Placement::kWrite && !path_exists(fresh))
        return with_placement(install_error("Could not install " + path_text(target.filename())),
                              target, placed);
    return with_placement(install_error("Could not replace " + path_text(target) +
                                        " (file is in use). Close running bots, then copy " +
                                        path_text(fresh) + " over it."),
                          target, placed);
}

Error install_runtime(const Layout& layout, const Path& runtime_source, Snapshot snapshot) {
    if (!layout.available()) return install_error("LOCALAPPDATA is not available");
    if (!path_exists(runtime_source)) {
        return install_error("Runtime payload is missing: " + path_text(runtime_source));
    }
    if (snapshot == Snapshot::Take)
        (void)snapshot_installed_runtime(layout, read_installed_version(layout));

    const Path version_dir = layout.versions / kModuleVersion;
    for (const Path& dir :
         {layout.bin, layout.modules, layout.config, layout.cache, layout.logs, version_dir}) {
        (void)ensure_dir(dir);
    }

    const Path runtime = layout.bin / kRuntimeFileName;
    say("  [1/5] Runtime -> " + path_text(runtime) + "\n");
    TARN_TRY(logged("[1/5] Runtime", place_file(runtime_source, runtime)));
    say(std::string("  [2/5] CLI alias ") + kAliasFileName + "\n");
    TARN_TRY(logged("[2/5] CLI alias", place_file(runtime_source, layout.bin / kAliasFileName)));
    // From the first module to the record the installation is unfinished;
    // the mark makes the next run repair it (the two executables before it
    // are each placed whole).
    (void)write_file(layout.install_pending, "");
    say("  [3/5] Tarnwick module\n");
    TARN_TRY(logged("[3/5] Tarnwick module", write_module_files(layout)));
    say("  [4/5] PATH\n");
    TARN_TRY(logged("[4/5] PATH", add_to_user_path(layout.bin.native())));
    say("  [5/5] Config\n");
    TARN_TRY(logged("[5/5] Config", write_install_record(layout)));
    (void)delete_file(layout.install_pending);

    // A rollback installs from this very file; copying it onto itself could
    // only damage it.
    const Path version_copy = version_dir / kRuntimeFileName;
    if (!same_file(runtime_source, version_copy)) {
        (void)copy_with_parents(runtime_source, version_copy);
    }
    return {};
}

}  // namespace tarncore
