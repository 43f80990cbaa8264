#include "install/setup_lock.h"

#include <ostream>
#include <string>

#include "support/layout.h"
#include "support/output.h"

namespace tarncore {

Error hold_setup_lock(const Layout& layout, std::uint32_t limit_ms) {
    const Path folder = layout.root.parent_path();
    LockState state = take_setup_lock(folder, 0);
    if (state == LockState::kBusy) {
        console_out() << "Another Tarnwick setup is running; waiting for it to finish...\n"
                      << std::flush;
        state = take_setup_lock(folder, limit_ms);
    }
    if (state == LockState::kBusy) {
        return install_error("Another Tarnwick setup is still running after " +
                             std::to_string(limit_ms / 1000) +
                             " s; run Tarnwick-Setup.exe again once it has finished");
    }
    return {};
}

}  // namespace tarncore
