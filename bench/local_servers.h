// What both download benchmarks compare against: openssl s_server -WWW (HTTPS,
// HTTP/1.0, no length, the close ends the body), the test server's length and
// chunked answers, and curl timed beside HttpClient in interleaved rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tarnbench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// Runs a shell command; its wall time, or a negative value when it failed.
double timed_shell(const std::string& command);

/// CPU seconds (user and system) of this process so far, and of its
/// children that have ended: the cost of each client apart from the load.
double cpu_seconds_self();
double cpu_seconds_children();

/// Writes size bytes to path, byte i being i % 256 as in the test server's bodies.
bool write_pattern_file(const std::string& path, std::uint64_t size);

/// openssl s_server -WWW over the files of one folder, with the test
/// certificates; it ends with the object, or by itself after half an hour.
class WwwServer {
public:
    /// False when it did not come up (no openssl, no port reported).
    bool start(const std::string& folder, const std::string& certificates);
    std::string url(const std::string& file) const {
        return "https://localhost:" + std::to_string(port_) + "/" + file;
    }

private:
    tarncore::ChildProcess process_;
    std::uint16_t port_ = 0;
};

}  // namespace tarnbench
