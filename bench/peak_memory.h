// Peak resident memory of this process over a stretch of work.
#pragma once

#include <cstdint>

namespace tarnbench {

/// Starts a new measurement: the peak is brought down to the current use
/// where the system allows it (Linux: /proc/self/clear_refs).
void reset_peak_memory();
/// Peak resident bytes since the last reset (or since the start).
std::uint64_t peak_memory();
/// Resident bytes now.
std::uint64_t current_memory();

}  // namespace tarnbench
