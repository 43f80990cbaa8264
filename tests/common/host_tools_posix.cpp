#include "tests/common/host_tools.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tarntest {

std::string unix_path(const tarncore::Path& path) {
    return path.string();
}

std::vector<tarncore::Path> program_arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

// A child not waited for stays a zombie until this process ends.
int run_host_program(const std::vector<std::string>& argv, bool wait) {
    std::vector<std::string> text(argv);
    std::vector<char*> args;
    for (std::string& a : text) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    if (argv.empty() || posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return -1;
    }
    if (!wait) return 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tarntest
