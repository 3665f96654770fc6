#pragma once
// The heap the window is built in.
//
// Building and first drawing the main window touches a few megabytes of fresh
// memory: widgets, fonts, glyph caches and the 2.6 MB backing store. Touching
// it page by page costs a fault per 4 KB page, and on virtual machines a fault
// is expensive (about 12 µs each where this was measured, so ~1,000 faults
// were a sixth of the start-up). Served from transparent huge pages, the same
// memory costs a fault per 2 MB.

#include <cstddef>
#include <cstdint>

namespace startupheap {

// The size of a transparent huge page on x86-64 and arm64 (4 KB base pages).
inline constexpr std::size_t hugePageSize = std::size_t(2) << 20;

// The heap reserved ahead for the start-up.
inline constexpr std::size_t reservedBytes = std::size_t(16) << 20;

// The whole huge pages inside [begin, begin + length): [first, last), empty
// (first == last) when no whole huge page fits.
struct Range {
    std::uintptr_t first = 0;
    std::uintptr_t last = 0;
};
Range wholeHugePages(std::uintptr_t begin, std::size_t length);

// Grows the main heap by reservedBytes in one step and asks the kernel to
// back it with huge pages where it can. Large blocks (images, the backing
// store) are then taken from this heap instead of fresh mappings: the block
// size from which glibc maps separately is fixed at 32 MB and the heap is
// trimmed from 64 MB, the ceilings glibc's own adaptive thresholds reach.
// Idempotent; does nothing useful but no harm where huge pages are off.
// Returns whether the kernel took the advice.
bool reserve();

} // namespace startupheap
