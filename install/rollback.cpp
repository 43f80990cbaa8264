#include "install/rollback.h"

#include <ostream>

#include "install/install_steps.h"
#include "support/layout.h"
#include "support/output.h"
#include "support/version.h"

namespace tarncore {
namespace {

// A version read from the installation names a folder below versions only
// when it is a version by the program's own rule and cannot lead elsewhere.
bool usable_as_folder(std::string_view version) {
    if (!is_valid_version(version) || version.find("..") != std::string_view::npos) return false;
    for (const char c : version) {
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
}

Error not_a_version(const char* refused, const std::string& version) {
    return install_error(std::string(refused) + ": \"" + version + "\" is not a version");
}

}  // namespace

Error snapshot_installed_runtime(const Layout& layout, const std::string& version) {
    if (version.empty()) return {};
    if (!usable_as_folder(version)) return not_a_version("No rollback snapshot taken", version);
    const Path folder = layout.versions / native_from_text(version);
    (void)ensure_dir(folder);
    const Path runtime = layout.bin / kRuntimeFileName;
    if (path_exists(runtime)) (void)copy_with_parents(runtime, folder / kRuntimeFileName);
    (void)write_file(layout.versions / "previous.txt", version);
    return {};
}

Error rollback(const Layout& layout) {
    if (!layout.available()) return install_error("LOCALAPPDATA is not available");
    std::string version;
    if (!read_file(layout.versions / "previous.txt", version) || version.empty()) {
        return install_error("No previous version is available to roll back");
    }
    while (!version.empty() && (version.back() == '\r' || version.back() == '\n')) {
        version.pop_back();
    }
    if (!usable_as_folder(version)) return not_a_version("Rollback refused", version);
    const Path snapshot = layout.versions / native_from_text(version) / kRuntimeFileName;
    if (!path_exists(snapshot)) {
        return install_error("Rollback snapshot is missing: " + path_text(snapshot));
    }
    console_out() << "Rolling back to Tarnwick " << version << "...\n" << std::flush;
    // No snapshot in the rerun: bin\tarn.exe is now the runtime that just
    // failed, and copying it aside would overwrite this very snapshot, under
    // the same version name, before it has been installed.
    return install_runtime(layout, snapshot, Snapshot::Skip);
}

}  // namespace tarncore
