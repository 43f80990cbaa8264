// One setup at a time for each user: a second one waits for the first
// instead of writing the same files beside it.
#pragma once

#include <cstdint>

#include "support/error.h"
#include "support/layout.h"

namespace tarncore {

/// How long a second setup waits for the first.
inline constexpr std::uint32_t kSetupLockWaitMs = 120000;

/// Takes the user's setup lock, held until this process ends. When another
/// setup holds it, one line says so and the wait lasts up to limit_ms; then
/// the failure says what to do. Without a lock to take (no folder for it) the
/// run goes on unguarded.
Error hold_setup_lock(const Layout& layout, std::uint32_t limit_ms = kSetupLockWaitMs);

}  // namespace tarncore
