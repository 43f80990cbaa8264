// The POSIX half of the harness.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/common/install_sandbox.h"
#include "tests/common/test_server.h"

extern char** environ;

namespace tarntest {

Path host_path(const std::string& unix_path) {
    return Path(unix_path);
}

Path test_tool(const std::string& name) {
    return host_path(std::string(TARN_TEST_TOOLS_DIR) + "/" + name);
}

// The permission bits set_read_only changed already do the job.
void set_folder_read_only(const Path&, bool) {}

bool make_link(const Path& link, const Path& target) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

std::string unix_path(const tarncore::Path& path) {
    return path.string();
}

std::vector<tarncore::Path> program_arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

// A child not waited for stays a zombie until this process ends.
int run_host_program(std::vector<std::string> argv, bool wait) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
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

// rename(2) replaces a running program directly, so nothing is ever left
// for a restart.
bool deletion_scheduled(const Path&) {
    return false;
}

// The OpenSSL engine takes the default verify paths, which SSL_CERT_FILE
// points at; nothing else of the process uses them.
bool trust_test_ca(const std::string& cert_dir) {
    return setenv("SSL_CERT_FILE", (cert_dir + "/ca.pem").c_str(), 1) == 0;
}

void untrust_test_ca(const std::string&) {
    unsetenv("SSL_CERT_FILE");
}

}  // namespace tarntest
