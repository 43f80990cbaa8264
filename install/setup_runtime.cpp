#include "install/setup_runtime.h"

#include "support/layout.h"
#include "payload/runtime_payload.h"

namespace tarncore {
namespace {

Error setup_runtime_error(std::string message) {
    return Error(kErrFile, "installer", "setup", std::move(message));
}

}  // namespace

Error locate_setup_runtime(const Layout& layout, Path& runtime_path, const Path& setup_dir,
                           std::string_view payload) {
    // An unknown setup folder must not become the current one.
    const Path beside = setup_dir / kRuntimeFileName;
    if (!setup_dir.empty() && path_exists(beside)) {
        runtime_path = beside;
        return {};
    }
    if (payload.empty()) {
        return setup_runtime_error(
            "Installer payload is empty. Place tarn.exe next to Tarnwick-Setup.exe or rebuild "
            "with an embedded runtime.");
    }
    // Without the installation root the cache would be relative to the current folder.
    if (!layout.available()) return setup_runtime_error("LOCALAPPDATA is not available");
    const Path target = layout.cache / "bundled-tarn.exe";
    runtime_path = target;
    (void)ensure_dir(layout.cache);
    const Placement placed = place_bytes(target, payload);
    if (placed.ok()) return {};
    return with_placement(setup_runtime_error("Could not extract bundled runtime"), target, placed);
}

Error locate_setup_runtime(const Layout& layout, Path& runtime_path) {
    return locate_setup_runtime(layout, runtime_path, executable_path().parent_path(),
                                embedded_runtime_payload());
}

}  // namespace tarncore
