#include "install/removal.h"

#include <chrono>
#include <thread>

#include "install/registration.h"
#include "install/user_path.h"
#include "support/layout.h"

namespace tarncore {

Error remove_installation(const Layout& layout) {
    const Path& root = layout.root;
    // With LOCALAPPDATA unreadable every folder name would be relative to the
    // current folder; neither the PATH nor any file may be touched then.
    if (!layout.available()) return install_error("LOCALAPPDATA is not available");

    TARN_TRY(remove_from_user_path(layout.bin.native()));

    // A file held briefly (an indexer, a virus scanner, a bot just ending)
    // lets go soon; try the whole tree again before giving up. What the walk
    // left alone on purpose stays so however often it is asked.
    constexpr int kAttempts = 10;
    std::string failure;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (remove_tree(root, failure)) {
            // Only a removed installation leaves Apps & Features and the Start menu.
            unregister_installation();
            return {};
        }
        if (!failure.empty()) break;
        if (attempt < kAttempts) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string message = "Could not remove " + path_text(root);
    if (!failure.empty()) message += " (" + failure + ")";
    return install_error(message);
}

}  // namespace tarncore
