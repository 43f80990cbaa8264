// Writing the Lua library carried inside the setup into the installation.
#pragma once

#include "support/error.h"
#include "support/layout.h"

namespace tarncore {

/// Writes every module of the table into the modules folder, with a copy under
/// versions\<module version>\modules; stops at the first file it cannot write.
Error write_module_files(const Layout& layout);

/// An installation is present when the runtime and the discord package's
/// init.lua both exist.
bool is_installed(const Layout& layout);

/// Whether an installation was left unfinished: its pending mark, the alias
/// missing, or a module file missing or empty. A module whose text differs
/// (another library version) is no damage.
bool needs_repair(const Layout& layout);

}  // namespace tarncore
