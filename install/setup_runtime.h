// The runtime the setup carries: tarn.exe beside the setup, else the copy
// built into it, written out so every runtime source is a path.
#pragma once

#include <string_view>

#include "support/error.h"
#include "support/layout.h"
#include "support/system.h"

namespace tarncore {

/// On success runtime_path names an existing runtime executable.
Error locate_setup_runtime(const Layout& layout, Path& runtime_path);
/// The same with the setup's folder and the built-in payload given, so both
/// sources can be exercised whatever the build embedded.
Error locate_setup_runtime(const Layout& layout, Path& runtime_path, const Path& setup_dir,
                           std::string_view payload);

}  // namespace tarncore
