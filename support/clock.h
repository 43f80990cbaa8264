// Local wall-clock time as "%Y-%m-%d %H:%M:%S", shared by the install record
// and the log lines.
#pragma once

#include <cstdint>
#include <string>

namespace tarncore {

std::string local_timestamp();
/// Milliseconds of a monotonic clock, for measuring how long something took.
std::int64_t steady_ms();

}  // namespace tarncore
