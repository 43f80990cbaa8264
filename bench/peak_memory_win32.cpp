#include "bench/peak_memory.h"

#include "support/win32.h"

#include <psapi.h>

namespace tarnbench {

namespace {

PROCESS_MEMORY_COUNTERS counters() {
    PROCESS_MEMORY_COUNTERS c{};
    K32GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c));
    return c;
}

}  // namespace

// Windows keeps one peak for the whole process and cannot lower it.
void reset_peak_memory() {}

std::uint64_t peak_memory() {
    return counters().PeakWorkingSetSize;
}

std::uint64_t current_memory() {
    return counters().WorkingSetSize;
}

}  // namespace tarnbench
