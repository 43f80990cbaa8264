#include <ostream>

#include "app/console.h"
#include "app/front.h"
#include "extras/extras.h"
#include "install/install_steps.h"
#include "install/rollback.h"
#include "support/layout.h"
#include "support/output.h"
#include "support/product.h"

namespace tarncore {
namespace {

void report(const Error& error) {
    console_err() << format_error_report(error) << "\n";
}

}  // namespace

int run_install(const Path& runtime_source, bool silent) {
    console_out() << "\nInstalling Tarnwick " << kSetupVersion << "...\n";
    const Error error = install_runtime(runtime_source);
    // The install steps make the logs folder, also when they fail.
    attach_run_log();
    if (error.failed()) {
        report(error);
        console_out() << "Attempting rollback...\n";
        const Error rollback_error = rollback();
        if (rollback_error.failed()) report(rollback_error);
        return 1;
    }
    const int result = run_extras(true);
    show_success_screen();
    if (!silent) open_ready_shell();
    return result;
}

int run_extras(bool refresh) {
    const Error error = discordvoice::installExtras(refresh);
    if (error.ok()) return 0;
    report(error);
    return 1;
}

void show_success_screen() {
    console_out() << "\nTarnwick installed successfully.\n\n"
                     "You can now use:\n\n"
                     "  tarn\n"
                     "  tarnwick\n\n"
                     "Examples:\n"
                     "  tarn init\n"
                     "  tarn run bot.lua\n\n"
                     "Extra components (FFmpeg, yt-dlp) live in:\n  "
                  << path_text(install_root() / "tools") << "\n\n"
                  << "Docs: " << kDocsUrl << "\n";
}

void open_ready_shell() {
    // The bin folder goes in unquoted: set takes the rest up to && as the value.
    platform::start_console_window(
        native_from_text("cmd.exe /k \"set PATH=") + bin_dir().native() +
        native_from_text(";%PATH% && echo Tarnwick is ready. Try: tarn help && echo.\""));
}

}  // namespace tarncore
