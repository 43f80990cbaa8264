// Local wall-clock time as "%Y-%m-%d %H:%M:%S", shared by the install record
// and the log lines.
#pragma once

#include <string>

namespace tarncore {

std::string local_timestamp();

}  // namespace tarncore
