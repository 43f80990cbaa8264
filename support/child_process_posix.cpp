// posix_spawn with pipes stands in for CreateProcessW, a PATH search for SearchPathW.
#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarncore {
namespace {

Error start_error(const char* message) {
    return Error(kErrProcess, "runtime", "ChildProcess.start", message);
}

void close_fd(std::intptr_t& fd) {
    if (fd >= 0) ::close(static_cast<int>(fd));
    fd = -1;
}

void drain(std::intptr_t fd) {
    char buffer[65536];
    for (int i = 0; i < ChildProcess::kDrainReads && fd >= 0; ++i) {
        if (::read(static_cast<int>(fd), buffer, sizeof buffer) <= 0) return;
    }
}

}  // namespace

Path search_program_path(const std::string& name, const char* extension) {
    const std::string file =
        extension != nullptr && name.find('.') == std::string::npos ? name + extension : name;
    const char* path = ::getenv("PATH");
    std::string list = path != nullptr ? path : "";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string folder = list.substr(start, end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + file;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

void ChildProcess::start(ChildProcess& child, Error& error, const Path& program,
                         const std::vector<NativeString>& arguments,
                         const EnvironmentMap& environment, bool merge_stderr) {
    terminate(child);
    error = Error();
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC | O_NONBLOCK) != 0) {
        for (int fd : {input[0], input[1], output[0], output[1]}) {
            if (fd >= 0) ::close(fd);
        }
        error = start_error("CreatePipe failed");
        return;
    }
    child.input_ = input[1];
    child.output_ = output[0];
    // The child's end blocks as usual; only the parent's end may not wait.
    ::fcntl(output[1], F_SETFL, ::fcntl(output[1], F_GETFL) & ~O_NONBLOCK);
    int null_device = merge_stderr ? -1 : ::open("/dev/null", O_WRONLY | O_CLOEXEC);

    std::vector<std::string> argv_text{program.native()};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text;
    std::vector<char*> envp;
    if (!environment.empty()) {
        std::vector<std::string> parent;
        for (char** e = environ; *e != nullptr; ++e) parent.emplace_back(*e);
        env_text = merged_environment(parent, environment);
        for (std::string& e : env_text) envp.push_back(e.data());
        envp.push_back(nullptr);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, null_device >= 0 ? null_device : output[1], 2);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(),
                                     environment.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {input[0], output[1], null_device}) {
        if (fd >= 0) ::close(fd);
    }
    if (failed != 0) {
        close_fd(child.input_);
        close_fd(child.output_);
        error = start_error("CreateProcess failed");
        return;
    }
    child.process_ = pid;
    child.pid_ = static_cast<std::uint32_t>(pid);
}

bool ChildProcess::running(ChildProcess& child) {
    if (child.process_ == kNone) return false;
    drain(child.output_);
    int status = 0;
    const pid_t pid = static_cast<pid_t>(child.process_);
    if (::waitpid(pid, &status, WNOHANG) == 0) return true;
    // Reaped (or lost): the pid may be reused, so it is no longer held.
    child.process_ = kNone;
    return false;
}

void ChildProcess::terminate(ChildProcess& child) {
    if (child.process_ != kNone) {
        const pid_t pid = static_cast<pid_t>(child.process_);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        child.process_ = kNone;
    }
    child.thread_ = kNone;
    close_fd(child.input_);
    close_fd(child.output_);
}

}  // namespace tarncore
