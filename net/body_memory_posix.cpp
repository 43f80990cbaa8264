#include <sys/mman.h>

#include <cstdint>

#include "net/body_memory.h"

namespace tarncore::body_memory {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;
}

// PROT_NONE costs no commit charge; mprotect charges what becomes writable.
char* reserve(std::size_t bytes) {
    void* base =
        ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    // Transparent huge pages in "madvise" mode serve only ranges advised so;
    // a large body then takes a fault per 2 MiB instead of per 4 KiB.
    const auto at = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (at + bytes) & ~(kHuge - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    return static_cast<char*>(base);
}

bool commit(char* start, std::size_t bytes) {
    if (::mprotect(start, bytes, PROT_READ | PROT_WRITE) != 0) return false;
        // Filled at once (the body is about to be written there): one call
        // instead of a fault per page. Older kernels refuse it; faults serve then.
#ifdef MADV_POPULATE_WRITE
    ::madvise(start, bytes, MADV_POPULATE_WRITE);
#endif
    return true;
}

void release(char* base, std::size_t bytes) {
    ::munmap(base, bytes);
}

}  // namespace tarncore::body_memory
