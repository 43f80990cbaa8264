#include "tests/common/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace tarntest {

bool ChildProcess::start(const tarncore::Path& program, const std::vector<std::string>& args) {
    kill();
    std::vector<std::string> argv_text{program.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    handle_ = pid;
    exit_code_ = -1;
    return true;
}

int ChildProcess::wait(std::uint32_t timeout_ms) {
    if (handle_ == 0) return exit_code_;
    // waitpid has no time-out: poll, which is fine for test programs.
    for (std::uint32_t waited = 0;; waited += 10) {
        int status = 0;
        pid_t r = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
        if (r == static_cast<pid_t>(handle_)) {
            handle_ = 0;
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exit_code_;
        }
        if (r < 0) {
            handle_ = 0;
            return exit_code_;
        }
        if (waited >= timeout_ms) return -1;
        timespec pause{0, 10'000'000};
        nanosleep(&pause, nullptr);
    }
}

void ChildProcess::kill() {
    if (handle_ == 0) return;
    ::kill(static_cast<pid_t>(handle_), SIGKILL);
    wait(UINT32_MAX);
}

}  // namespace tarntest
