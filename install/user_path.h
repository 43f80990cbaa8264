// The installation's bin folder on the user PATH.
#pragma once

#include "support/error.h"
#include "support/system.h"

namespace tarncore {

/// Whether a ';'-separated list holds the folder: entries lose their trailing
/// '\' and '/', and only A..Z fold to lower case.
bool path_list_contains(const NativeString& list, const NativeString& folder);

/// Appends the folder to the user PATH (REG_SZ stays REG_SZ, a missing value
/// becomes REG_EXPAND_SZ), broadcasts the change, and prepends it to this
/// process's PATH for the programs it starts. A value of any other type, or
/// one that would grow past 32767 characters, is left as it is and fails.
Error add_to_user_path(const NativeString& folder);

/// Rewrites the user PATH without the folder, empty entries and trailing
/// separators (a value that is not REG_SZ/REG_EXPAND_SZ stays as it is);
/// never fails, so an uninstall always goes on.
Error remove_from_user_path(const NativeString& folder);

}  // namespace tarncore
