#include <ostream>
#include <string_view>

#include "app/console.h"
#include "app/front.h"
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

void wait_for_any_key() {
    console_out() << "\nDevam etmek icin bir tusa basin . . .\n" << std::flush;
    platform::wait_for_key_press();
}

}  // namespace tarncore
