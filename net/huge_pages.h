// Large body buffers are filled once from front to back; backing them with
// huge pages where the system offers them saves most of the page faults.
#pragma once

#include <cstddef>

namespace tarncore {

/// Advises the system that [data, data + size) would do well on huge pages;
/// call it before the memory is first touched. A hint only: no effect where
/// the system has none (huge_pages_posix.cpp / huge_pages_win32.cpp).
void prefer_huge_pages(char* data, std::size_t size);

/// True where a large allocation costs nothing until its pages are touched
/// (Linux maps them on first use): a body of unknown length may then reserve
/// its limit at once and never move. Windows commits what is allocated.
bool untouched_memory_is_free();

}  // namespace tarncore
