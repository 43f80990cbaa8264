#include "bench/peak_memory.h"

#include <fstream>
#include <string>

namespace tarnbench {

namespace {

std::uint64_t status_kib(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1));
    }
    return 0;
}

}  // namespace

// Writing 5 resets VmHWM to the current RSS (Linux 4.0 and later).
void reset_peak_memory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::uint64_t peak_memory() {
    return status_kib("VmHWM") * 1024;
}

std::uint64_t current_memory() {
    return status_kib("VmRSS") * 1024;
}

}  // namespace tarnbench
