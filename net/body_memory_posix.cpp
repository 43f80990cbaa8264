#include <sys/mman.h>

#include <cstdint>

#include "net/body_memory.h"

namespace tarncore::body_memory {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;

// Filled at once (the body is about to be written there): one call instead
// of a fault per page. False on a closed range and on older kernels.
bool populate(char* start, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    return ::madvise(start, bytes, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

}  // namespace

// Writable from the start: an untouched private page costs nothing here, and
// opening the range piece by piece with mprotect took longer than receiving
// a 256 MiB plain body. Strict overcommit charges a writable range in full
// and may refuse it; the range then starts closed, and commit opens it as it
// fills.
char* reserve(std::size_t bytes) {
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, kFlags, -1, 0);
    if (base == MAP_FAILED) base = ::mmap(nullptr, bytes, PROT_NONE, kFlags, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    // Transparent huge pages in "madvise" mode serve only ranges advised so;
    // a large body then takes a fault per 2 MiB instead of per 4 KiB.
    const auto at = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (at + bytes) & ~(kHuge - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    return static_cast<char*>(base);
}

// A closed range is opened first; where filling is not known, faults serve.
bool commit(char* start, std::size_t bytes) {
    if (populate(start, bytes)) return true;
    if (::mprotect(start, bytes, PROT_READ | PROT_WRITE) != 0) return false;
    (void)populate(start, bytes);
    return true;
}

void release(char* base, std::size_t bytes) {
    ::munmap(base, bytes);
}

}  // namespace tarncore::body_memory
