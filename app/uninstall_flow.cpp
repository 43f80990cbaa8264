#include <ostream>

#include "app/front.h"
#include "install/modules.h"
#include "install/registration.h"
#include "install/removal.h"
#include "install/setup_lock.h"
#include "support/layout.h"
#include "support/output.h"

namespace tarncore {

int run_uninstall(const SetupContext& context, bool silent) {
    const Layout& layout = context.layout;
    show_banner();
    if (const Error busy = hold_setup_lock(layout); busy.failed()) {
        report(busy);
        return 1;
    }
    // Without LOCALAPPDATA every folder would be relative to the current one:
    // nothing there is looked at, and the refusal of the removal is reported.
    if (layout.available()) {
        if (!is_installed(layout)) {
            console_out() << "Tarnwick is not installed.\n";
            return 0;
        }
        if (!silent) {
            console_out() << "This will remove " << path_text(layout.root) << "\n"
                          << "and the Tarnwick PATH entry.\n\n[Y] Uninstall   [N] Cancel\n> ";
            const std::string answer = context.prompt.read_choice();
            if (answer.empty() || (answer[0] != 'Y' && answer[0] != 'y')) {
                console_out() << "Cancelled.\n";
                return 0;
            }
        }
    }
    const Path moved = move_setup_copy_aside(layout);
    const Error error = remove_installation(layout);
    settle_setup_copy(layout, moved, error.ok());
    if (error.failed()) {
        report(error);
        return 1;
    }
    console_out() << "Tarnwick has been removed.\n";
    return 0;
}

}  // namespace tarncore
