#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "bench/local_servers.h"

namespace tarnbench {

double timed_shell(const std::string& command) {
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const double seconds = seconds_since(start);
    return rc == 0 ? seconds : -1;
}

namespace {
double cpu_seconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
}  // namespace

double cpu_seconds_self() {
    return cpu_seconds(RUSAGE_SELF);
}

double cpu_seconds_children() {
    return cpu_seconds(RUSAGE_CHILDREN);
}

bool write_pattern_file(const std::string& path, std::uint64_t size) {
    std::string block(std::size_t{1} << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i % 256);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::uint64_t done = 0; done < size && out; done += block.size()) {
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - done)));
    }
    return static_cast<bool>(out);
}

bool WwwServer::start(const std::string& folder, const std::string& certificates) {
    // s_server serves paths below its working folder and prints the port it
    // took; the watchdog ends it should this process die first.
    const std::string log = folder + "/s_server.log";
    const std::string script = "cd '" + folder +
                               "' || exit 1; (sleep 1800; [ \"$(cat /proc/$$/comm)\" = openssl ] "
                               "&& kill $$) >/dev/null 2>&1 & exec openssl " +
                               "s_server -WWW -accept 127.0.0.1:0 -cert '" + certificates +
                               "/good.pem' -key '" + certificates + "/leaf.key' > '" + log +
                               "' 2>&1 < /dev/null";
    tarncore::Error error;
    tarncore::ChildProcess::start(process_, error, "/bin/sh", {"-c", script}, {}, false);
    if (error.failed()) return false;
    const std::regex accept("ACCEPT [^ ]*:([0-9]+)");
    for (int i = 0; i < 100 && tarncore::ChildProcess::running(process_); ++i) {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        const std::string seen = text.str();
        std::smatch match;
        if (std::regex_search(seen, match, accept)) {
            port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace tarnbench
