// Address space for a body held in memory: reserved once for the most it may
// hold, committed as it fills, so a growing body never moves and never
// commits much more than what arrived (body_memory_posix.cpp / _win32.cpp).
#pragma once

#include <cstddef>

namespace tarncore::body_memory {

/// Commits happen in multiples of this; reservations start on it.
inline constexpr std::size_t kGranule = std::size_t{64} << 10;

/// Reserves bytes (a multiple of kGranule) of address space, none of it to
/// be used before it is committed; nullptr when the system refuses.
char* reserve(std::size_t bytes);
/// Makes [start, start + bytes) of a reservation readable and writable
/// (zero-filled); start and bytes are multiples of kGranule from its base.
bool commit(char* start, std::size_t bytes);
/// Gives back a whole reservation, committed parts included.
void release(char* base, std::size_t bytes);

}  // namespace tarncore::body_memory
