// Entry point of Tarnwick-Setup: one flow, then the socket library released
// and, in a console of its own, a pause so the window stays readable.
#include <string_view>

#include "app/console.h"
#include "app/front.h"
#include "install/registration.h"
#include "net/socket.h"

int main(int argc, char** argv) {
    // The helper an uninstall from the installation's copy leaves behind.
    if (argc == 3 && std::string_view(argv[1]) == tarncore::kCopyRemoverSwitch) {
        return tarncore::run_copy_remover(argv[2]);
    }
    const tarncore::CommandLine line = tarncore::parse_command_line(argc, argv);
    tarncore::begin_run_log(argc, argv);
    const int result =
        line.uninstall ? tarncore::run_uninstall(line.silent) : tarncore::run_setup(line.silent);
    // The uninstall flow never started it; the call then fails unseen.
    tarncore::Socket::cleanup();
    if (!line.silent && tarncore::platform::is_own_console()) tarncore::wait_for_any_key();
    tarncore::end_run_log(result);
    return result;
}
