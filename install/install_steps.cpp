#include "install/install_steps.h"

#include <ostream>
#include <string>
#include <system_error>

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
Error logged(const char* step, Error error) {
    Logger::instance().detail(
        "install", std::string(step) + (error.failed() ? " failed: " + error.message : " done"));
    return error;
}

bool same_file(const Path& a, const Path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

bool replace_file(const Path& source, const Path& target) {
    const Path fresh = with_suffix(target, ".new");
    const Path old = with_suffix(target, ".old");
    (void)ensure_dir(target.parent_path());
    if (!copy_file_replace(source, fresh)) return false;
    if (move_file(fresh, target, kMoveReplaceExisting | kMoveWriteThrough)) return true;

    // A running executable cannot be overwritten, but it can be renamed.
    if (path_exists(old)) (void)delete_file(old);
    if (!move_file(target, old, kMoveReplaceExisting)) return false;
    if (!move_file(fresh, target, kMoveReplaceExisting | kMoveWriteThrough)) {
        (void)move_file(old, target, kMoveReplaceExisting);
        return false;
    }
    // The old image stays mapped until its process ends.
    if (!delete_file(old)) (void)move_file(old, Path(), kMoveDelayUntilReboot);
    return true;
}

Error place_file(const Path& source, const Path& target) {
    if (replace_file(source, target)) return {};
    const Path fresh = with_suffix(target, ".new");
    if (!path_exists(fresh))
        return install_error("Could not install " + path_text(target.filename()));
    return install_error("Could not replace " + path_text(target) +
                         " (file is in use). Close running bots, then copy " + path_text(fresh) +
                         " over it.");
}

Error install_runtime(const Path& runtime_source, Snapshot snapshot) {
    if (install_root().empty()) return install_error("LOCALAPPDATA is not available");
    if (!path_exists(runtime_source)) {
        return install_error("Runtime payload is missing: " + path_text(runtime_source));
    }
    if (snapshot == Snapshot::Take) (void)snapshot_installed_runtime(read_installed_version());

    const Path version_dir = versions_dir() / kModuleVersion;
    for (const Path& dir :
         {bin_dir(), modules_dir(), config_dir(), cache_dir(), logs_dir(), version_dir}) {
        (void)ensure_dir(dir);
    }

    const Path runtime = bin_dir() / kRuntimeFileName;
    say("  [1/5] Runtime -> " + path_text(runtime) + "\n");
    TARN_TRY(logged("[1/5] Runtime", place_file(runtime_source, runtime)));
    say(std::string("  [2/5] CLI alias ") + kAliasFileName + "\n");
    TARN_TRY(logged("[2/5] CLI alias", place_file(runtime_source, bin_dir() / kAliasFileName)));
    say("  [3/5] Tarnwick module\n");
    TARN_TRY(logged("[3/5] Tarnwick module", write_module_files()));
    say("  [4/5] PATH\n");
    TARN_TRY(logged("[4/5] PATH", add_to_user_path(bin_dir().native())));
    say("  [5/5] Config\n");
    TARN_TRY(logged("[5/5] Config", write_install_record()));

    // A rollback installs from this very file; copying it onto itself could
    // only damage it.
    const Path version_copy = version_dir / kRuntimeFileName;
    if (!same_file(runtime_source, version_copy)) {
        (void)copy_with_parents(runtime_source, version_copy);
    }
    return {};
}

}  // namespace tarncore
