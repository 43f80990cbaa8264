// Putting a runtime and the Lua library into the installation, in five
// announced steps, replacing executables that a running bot holds open.
#pragma once

#include "support/error.h"
#include "support/layout.h"
#include "support/system.h"

namespace tarncore {

/// Whether the install steps first copy the installed runtime aside.
enum class Snapshot { Take, Skip };

/// Installs runtime_source as bin\tarn.exe and its alias, the modules, the
/// user PATH entry and the install record. A failure leaves the earlier
/// steps' files in place; undoing them is the caller's rollback.
Error install_runtime(const Layout& layout, const Path& runtime_source,
                      Snapshot snapshot = Snapshot::Take);

/// Deletes what placements leave behind: every bin\*.old that no running
/// program holds any more (an ordinary user cannot have it deleted at the
/// restart), and the *.new files of placements that were stopped. Best effort.
void remove_leftovers(const Layout& layout);

/// Copies source over target, also when target is a running program; the
/// errors name what the user can do about it.
Error place_file(const Path& source, const Path& target);

/// Copies to target.new and swaps it in, moving a running target aside to
/// target.old; false leaves target as it was.
bool replace_file(const Path& source, const Path& target);

}  // namespace tarncore
