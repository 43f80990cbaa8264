// Entry point of Tarnwick-Setup: one flow, then the socket library released
// and, in a console of its own, a pause so the window stays readable.
#include "app/console.h"
#include "app/front.h"
#include "install/registration.h"
#include "net/socket.h"
#include "update/release_signature.h"

int main(int argc, char** argv) {
    // The helper an uninstall from the installation's copy leaves behind.
    if (tarncore::is_copy_remover(argc, argv)) return tarncore::run_copy_remover(argv[2]);
    const tarncore::CommandLine line = tarncore::parse_command_line(argc, argv);
    // The one place the installation's root is looked up.
    const tarncore::Layout layout = tarncore::layout_for(tarncore::get_env("LOCALAPPDATA"));
    tarncore::begin_run_log(layout, argc, argv);
    tarncore::ConsolePrompt prompt;
    const tarncore::UpdateClient updates(tarncore::built_in_release_keys(),
                                         tarncore::signed_version_path(layout));
    const tarncore::SetupContext context{layout, prompt, updates};
    const int result = line.uninstall ? tarncore::run_uninstall(context, line.silent)
                                      : tarncore::run_setup(context, line.silent);
    // The uninstall flow never started it; the call then fails unseen.
    tarncore::Socket::cleanup();
    if (!line.silent && tarncore::platform::is_own_console()) tarncore::wait_for_any_key();
    tarncore::end_run_log(layout, result);
    return result;
}
