#include <ostream>

#include "app/console.h"
#include "app/front.h"
#include "extras/extras.h"
#include "install/install_steps.h"
#include "install/registration.h"
#include "install/rollback.h"
#include "support/layout.h"
#include "support/logger.h"
#include "support/output.h"
#include "support/product.h"
#include "update/release_signature.h"

namespace tarncore {

int run_install(const SetupContext& context, const Path& runtime_source, bool silent,
                const std::string& signed_version) {
    const Layout& layout = context.layout;
    console_out() << "\nInstalling Tarnwick " << kSetupVersion << "...\n";
    const Error error = install_runtime(layout, runtime_source);
    // The install steps make the logs folder, also when they fail.
    attach_run_log(layout);
    if (error.failed()) {
        report(error);
        console_out() << "Attempting rollback...\n";
        const Error rollback_error = rollback(layout);
        if (rollback_error.failed()) report(rollback_error);
        return 1;
    }
    // Best effort: a floor that cannot be raised only weakens the next check.
    if (!signed_version.empty())
        (void)note_signed_version(signed_version_path(layout), signed_version);
    // Windows' listing of the installation is no part of the console dialogue.
    const Error listed = register_installation(layout);
    Logger::instance().detail(
        "install",
        listed.failed() ? listed.message : "Apps & Features entry and Start menu shortcut written");
    const int result = run_extras(layout, true);
    show_success_screen(layout);
    if (!silent) open_ready_shell(layout);
    return result;
}

int run_extras(const Layout& layout, bool refresh) {
    const Error error = discordvoice::installExtras(layout, refresh);
    if (error.ok()) return 0;
    report(error);
    return 1;
}

void show_success_screen(const Layout& layout) {
    console_out() << "\nTarnwick installed successfully.\n\n"
                     "You can now use:\n\n"
                     "  tarn\n"
                     "  tarnwick\n\n"
                     "Examples:\n"
                     "  tarn init\n"
                     "  tarn run bot.lua\n\n"
                     "Extra components (FFmpeg, yt-dlp) live in:\n  "
                  << path_text(layout.tools) << "\n\n"
                  << "Docs: " << kDocsUrl << "\n";
}

void open_ready_shell(const Layout& layout) {
    platform::start_console_window(native_from_text("cmd.exe ") + ready_console_arguments(layout));
}

}  // namespace tarncore
