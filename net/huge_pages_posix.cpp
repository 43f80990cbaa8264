#include <sys/mman.h>

#include <cstdint>

#include "net/huge_pages.h"

namespace tarncore {

// Transparent huge pages in "madvise" mode serve only ranges advised so.
void prefer_huge_pages(char* data, std::size_t size) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

bool untouched_memory_is_free() {
    return true;
}

}  // namespace tarncore
