#include "tests/common/host_tools.h"

#include "tests/common/child_process.h"

namespace tarntest {

std::string unix_path(const tarncore::Path& path) {
    return path.string();
}

std::vector<tarncore::Path> program_arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

int run_host_program(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    ChildProcess child;
    if (!child.start(argv[0], {argv.begin() + 1, argv.end()})) return -1;
    return child.wait(UINT32_MAX);
}

}  // namespace tarntest
