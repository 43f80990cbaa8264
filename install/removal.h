// Taking Tarnwick off the machine for this user: the PATH entry, then the
// whole installation folder and nothing outside it.
#pragma once

#include "support/error.h"
#include "support/layout.h"

namespace tarncore {

/// Asks and prints nothing; with no installation folder there is nothing to do.
Error remove_installation(const Layout& layout);

}  // namespace tarncore
