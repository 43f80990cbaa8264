#include "net/huge_pages.h"

namespace tarncore {

// Large pages on Windows need the lock-memory privilege, which a user's
// process does not hold: nothing to do.
void prefer_huge_pages(char*, std::size_t) {}

bool untouched_memory_is_free() {
    return false;
}

}  // namespace tarncore
