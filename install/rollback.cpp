#include "install/rollback.h"

#include <cstdio>

#include "install/install_steps.h"
#include "support/layout.h"

namespace tarncore {

void snapshot_installed_runtime(const std::string& version) {
    if (version.empty()) return;
    const Path folder = versions_dir() / native_from_text(version);
    (void)ensure_dir(folder);
    const Path runtime = bin_dir() / kRuntimeFileName;
    if (path_exists(runtime)) (void)copy_with_parents(runtime, folder / kRuntimeFileName);
    (void)write_file(versions_dir() / "previous.txt", version);
}

Error rollback() {
    std::string version;
    if (!read_file(versions_dir() / "previous.txt", version) || version.empty()) {
        return install_error("No previous version is available to roll back");
    }
    while (!version.empty() && (version.back() == '\r' || version.back() == '\n')) {
        version.pop_back();
    }
    const Path snapshot = versions_dir() / native_from_text(version) / kRuntimeFileName;
    if (!path_exists(snapshot)) {
        return install_error("Rollback snapshot is missing: " + path_text(snapshot));
    }
    std::fputs(("Rolling back to Tarnwick " + version + "...\n").c_str(), stdout);
    std::fflush(stdout);
    // No snapshot in the rerun: bin\tarn.exe is now the runtime that just
    // failed, and copying it aside would overwrite this very snapshot, under
    // the same version name, before it has been installed.
    return install_runtime(snapshot, Snapshot::Skip);
}

}  // namespace tarncore
