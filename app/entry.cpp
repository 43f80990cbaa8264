#include <ostream>
#include <string>
#include <string_view>

#include "app/console.h"
#include "app/front.h"
#include "support/layout.h"
#include "support/logger.h"
#include "support/output.h"

namespace tarncore {

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--silent" || arg == "/S") line.silent = true;
        if (arg == "--uninstall" || arg == "/U") line.uninstall = true;
    }
    return line;
}

void report(const Error& error) {
    console_err() << format_error_report(error) << "\n";
    if (!error.detail.empty()) Logger::instance().detail(error.module, logged_message(error));
}

void begin_run_log(const Layout& layout, int argc, const char* const* argv) {
    std::string arguments;
    for (int i = 1; i < argc; ++i) arguments += std::string(i > 1 ? " " : "") + argv[i];
    const CommandLine line = parse_command_line(argc, argv);
    Logger::instance().detail("setup", std::string("Tarnwick Setup ") + kSetupVersion +
                                           ", arguments: " + arguments + " (silent " +
                                           (line.silent ? "yes" : "no") + ", uninstall " +
                                           (line.uninstall ? "yes" : "no") + ")");
    attach_run_log(layout);
}

// Every run that finds an installation folder logs into it, making logs when
// it is missing; a removed installation is not made again for its log.
void attach_run_log(const Layout& layout) {
    // Without a root the logs folder would be relative to the current one.
    if (!layout.available() || file_kind(layout.root) != FileKind::Folder) return;
    if (!ensure_dir(layout.logs)) return;
    open_log_file(layout.logs / "setup.log");
}

void end_run_log(const Layout& layout, int exit_code) {
    attach_run_log(layout);
    Logger::instance().detail("setup", "exit code " + std::to_string(exit_code));
    close_log_file();
}

void wait_for_any_key() {
    console_out() << "\nDevam etmek icin bir tusa basin . . .\n" << std::flush;
    platform::wait_for_key_press();
}

}  // namespace tarncore
