// The installed runtime copied aside before an install replaces it, and put
// back when that install fails.
#pragma once

#include <string>

#include "support/error.h"
#include "support/layout.h"

namespace tarncore {

/// Copies bin\tarn.exe to versions\<version>\tarn.exe and notes the version
/// in versions\previous.txt. Refuses a version that is no folder name below
/// versions; the install steps go on whatever it returns.
Error snapshot_installed_runtime(const Layout& layout, const std::string& version);

/// Reinstalls the runtime of the latest snapshot.
Error rollback(const Layout& layout);

}  // namespace tarncore
