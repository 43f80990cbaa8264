#include <iostream>

#include "app/console.h"
#include "app/front.h"
#include "install/install_steps.h"
#include "install/modules.h"
#include "install/record.h"
#include "install/setup_lock.h"
#include "install/setup_runtime.h"
#include "net/socket.h"
#include "support/ascii.h"
#include "support/layout.h"
#include "support/output.h"
#include "update/update_client.h"
#include "support/version.h"

namespace tarncore {
namespace {

// The runtime the setup carries ("bundled" in the menus).
int install_own_runtime(const SetupContext& context, bool silent) {
    Path runtime;
    const Error error = locate_setup_runtime(context.layout, runtime);
    if (error.failed()) {
        report(error);
        return 1;
    }
    return run_install(context, runtime, silent);
}

// What a downloaded runtime's install raises the signed-version floor to.
std::string signed_version(const UpdateSource& updates, const ReleaseManifest& manifest) {
    return updates.requires_signature() ? manifest.latest : std::string();
}

bool is_newer(const std::string& installed, const std::string& latest) {
    return is_valid_version(installed) &&
           compare_versions(parse_version(installed), parse_version(latest)) < 0;
}

}  // namespace

void show_banner() {
    platform::set_console_title("Tarnwick Setup");
    console_out() << "============================================\n"
                  << "  Tarnwick Setup  " << kSetupVersion << "\n"
                  << "============================================\n\n";
}

std::string ConsolePrompt::read_choice() {
    console_out() << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return {};
    return line;
}

int run_setup(const SetupContext& context, bool silent) {
    const Layout& layout = context.layout;
    const UpdateSource& client = context.updates;
    show_banner();
    if (const Error busy = hold_setup_lock(layout); busy.failed()) {
        report(busy);
        return 1;
    }
    const Error socket_error = Socket::initialize();
    if (socket_error.failed()) {
        report(socket_error);
        return 1;
    }
    remove_leftovers(layout);
    // Without a root every path would be relative to the current folder: nothing there counts as
    // installed and nothing is downloaded into it; the install refuses.
    const bool installed = layout.available() && is_installed(layout);
    const std::string installed_version = installed ? read_installed_version(layout) : "";
    console_out() << "Install directory: " << path_text(layout.root) << "\n"
                  << "Installed version: " << (installed ? installed_version : "none") << "\n";

    ReleaseManifest manifest;
    if (client.check_update(manifest).failed()) {
        // The reason is not shown: every failure of the query means the same here.
        console_out() << "Update API unavailable; using bundled " << kSetupVersion << ".\n";
        if (installed && silent) {
            if (!needs_repair(layout)) return run_extras(layout, false);
            console_out() << "The installation is incomplete; installing it again.\n";
        }
        return install_own_runtime(context, silent);
    }
    // The service's text, shown as it is only once it cannot steer the console.
    const std::string latest = console_safe(manifest.latest);
    console_out() << "Latest version:    " << latest << "\n";

    if (!installed) {
        if (manifest.download_url.empty() || !layout.available())
            return install_own_runtime(context, silent);
        const Path target = layout.cache / "runtime.bin";
        const Error error = download_runtime(client, manifest, target);
        if (error.ok())
            return run_install(context, target, silent, signed_version(client, manifest));
        report(error);
        console_out() << "Download failed; trying the bundled runtime.\n";
        return install_own_runtime(context, silent);
    }

    if (!is_newer(installed_version, manifest.latest)) {
        if (needs_repair(layout)) {
            console_out() << "The installation is incomplete; installing it again.\n";
            return install_own_runtime(context, silent);
        }
        console_out() << "Tarnwick is already up to date.\n";
        const int result = run_extras(layout, false);
        if (silent) return result;
        console_out() << "\n[R] Reinstall bundled   [C] Cancel\n> ";
        const std::string answer = context.prompt.read_choice();
        if (answer.empty() || answer[0] == 'C' || answer[0] == 'c') return 0;
        return install_own_runtime(context, silent);
    }

    console_out() << "\nA new version of Tarnwick is available.\n"
                  << "Installed: " << installed_version << "\n"
                  << "Latest:    " << latest << "\n\n";
    const Path target = layout.cache / "update.bin";
    if (silent) {
        // The download has printed its own failure line; no report here.
        if (download_runtime(client, manifest, target).ok())
            return run_install(context, target, true, signed_version(client, manifest));
        return install_own_runtime(context, true);
    }
    console_out() << "[U] Update   [R] Reinstall bundled   [C] Cancel\n> ";
    const std::string answer = context.prompt.read_choice();
    if (answer.empty() || answer[0] == 'C' || answer[0] == 'c') return run_extras(layout, false);
    if (answer[0] == 'U' || answer[0] == 'u') {
        const Error error = download_runtime(client, manifest, target);
        if (error.ok())
            return run_install(context, target, false, signed_version(client, manifest));
        report(error);
        console_out() << "Falling back to bundled runtime.\n";
    }
    return install_own_runtime(context, false);
}

}  // namespace tarncore
