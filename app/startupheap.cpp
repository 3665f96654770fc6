#include "startupheap.h"

#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>

namespace startupheap {

Range wholeHugePages(std::uintptr_t begin, std::size_t length) {
    if (length < hugePageSize || begin > UINTPTR_MAX - length)
        return {};
    const std::uintptr_t end = begin + length;
    const std::uintptr_t intoPage = begin % hugePageSize;
    // Cannot overflow: it is at most begin + hugePageSize - 1, below end.
    const std::uintptr_t first = intoPage == 0 ? begin : begin - intoPage + hugePageSize;
    const std::uintptr_t last = end - end % hugePageSize;
    if (last <= first)
        return {};
    return {first, last};
}

bool reserve() {
    static const bool advised = [] {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
        // One block of the reserved size grows the heap in one step; freed, it
        // joins the heap's free top, from which the next allocations are cut.
        void* block = std::malloc(reservedBytes);
        if (!block)
            return false;
        const Range range = wholeHugePages(reinterpret_cast<std::uintptr_t>(block), reservedBytes);
        const bool ok =
            range.first != range.last && madvise(reinterpret_cast<void*>(range.first),
                                                 range.last - range.first, MADV_HUGEPAGE) == 0;
        std::free(block);
        return ok;
    }();
    return advised;
}

} // namespace startupheap
