// The installed runtime copied aside before an install replaces it, and put
// back when that install fails.
#pragma once

#include <string>

#include "support/error.h"

namespace tarncore {

/// Copies bin\tarn.exe to versions\<version>\tarn.exe and notes the version
/// in versions\previous.txt. Never fails: a missing snapshot must not stop an
/// install.
void snapshot_installed_runtime(const std::string& version);

/// Reinstalls the runtime of the latest snapshot.
Error rollback();

}  // namespace tarncore
