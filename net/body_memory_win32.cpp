#include "net/body_memory.h"
#include "support/win32.h"

namespace tarncore::body_memory {

// Large pages need the lock-memory privilege, which a user's process does
// not hold: plain pages, reserved first and committed as they are needed.
char* reserve(std::size_t bytes) {
    return static_cast<char*>(::VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS));
}

bool commit(char* start, std::size_t bytes) {
    return ::VirtualAlloc(start, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void release(char* base, std::size_t) {
    ::VirtualFree(base, 0, MEM_RELEASE);
}

}  // namespace tarncore::body_memory
