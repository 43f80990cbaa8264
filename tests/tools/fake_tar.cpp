// The tar of the extras tests, copied onto the search path as tar(.exe): runs
// the build machine's bsdtar with the same arguments, Windows paths turned
// into Unix ones under Wine. TARN_FAKE_TAR asks for a misbehaviour: "hang"
// never ends, "fail" exits with 1 after unpacking, "chatty" first writes
// 1 MiB to its standard output.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/test_env.h"

int main(int argc, char** argv) {
    const char* mode_text = std::getenv("TARN_FAKE_TAR");
    const std::string mode = mode_text != nullptr ? mode_text : "";
    if (mode == "hang") {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (mode == "chatty") {
        const std::string block(65536, 'x');
        for (int i = 0; i < 16; ++i) std::fwrite(block.data(), 1, block.size(), stdout);
        std::fflush(stdout);
    }
    // The wide arguments: a path the code page cannot spell must arrive whole.
    std::vector<std::string> command{"/usr/bin/bsdtar"};
    for (const tarncore::Path& arg : tarntest::program_arguments(argc, argv)) {
        const auto& text = arg.native();
        command.push_back(text.size() > 2 && text[1] == ':' ? tarntest::unix_path(arg)
                                                            : tarncore::path_text(arg));
    }
    const int code = tarntest::run_host_program(command);
    return mode == "fail" ? 1 : code;
}
