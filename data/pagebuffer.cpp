#include "data/pagebuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace data {

namespace {

// Address space reserved per region; only what buffers use is ever backed.
constexpr std::size_t kRegionBytes = std::size_t(1) << 30;
constexpr std::size_t kSmallRegionBytes = std::size_t(64) << 20; // when the large one is refused
// Buffers up to this come from the C heap: it hands freed memory on as it
// is, where a region would give its pages back and have the kernel clear
// them again for the next small buffer. Results of a few rows
// (a script's thousands of them) stay there.
constexpr std::size_t kHeapBytes = std::size_t(64) << 10;
// Buffers above this get a mapping of their own.
constexpr std::size_t kOwnMappingBytes = std::size_t(64) << 20;

std::size_t pageSize() {
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t roundToPages(std::size_t n) {
    const std::size_t p = pageSize();
    return (n + p - 1) / p * p;
}
// Buffers on the C heap take what they need, in steps of a cache line: a
// result of a few rows then costs a few hundred bytes per column, and a
// script of thousands of them does not grow the heap page by page.
std::size_t roundForHeap(std::size_t n) {
    return (n + 63) & ~std::size_t(63);
}

// Faults the range in with one call instead of one trap per page; a kernel
// that cannot do so leaves the pages to be faulted on first touch.
void populate(char* from, std::size_t n) {
    if (n)
        madvise(from, n, MADV_POPULATE_WRITE);
}

} // namespace

namespace pagepool {

struct Region {
    char* base = nullptr;
    std::size_t bytes = 0;   // address space
    std::size_t top = 0;     // end of the highest buffer
    std::size_t used = 0;    // above this the memory reads as zero (never written, or given back)
    std::size_t buffers = 0; // live buffers carved from it
    bool open = false;       // the buffer at the top may still grow
    std::uint64_t closedAt = 0; // when the top last became free
    // Freed ranges below the top, offset -> length; given back to the
    // system, so they read as zero and cost no memory until used again.
    std::map<std::size_t, std::size_t> holes;

    bool atTop(const char* data, std::size_t capacity) const {
        return data + capacity == base + top;
    }

    // Hands out [top, top + n): zeroes what earlier buffers left there and
    // backs it with memory.
    char* take(std::size_t n) {
        char* p = base + top;
        if (top < used)
            std::memset(p, 0, std::min(n, used - top));
        top += n;
        used = std::max(used, top);
        populate(p, n);
        return p;
    }

    // A hole of at least n bytes, first fit; null when there is none.
    char* takeHole(std::size_t n) {
        for (auto it = holes.begin(); it != holes.end(); ++it) {
            if (it->second < n)
                continue;
            const auto [offset, length] = *it;
            holes.erase(it);
            if (length > n)
                holes.emplace(offset + n, length - n);
            populate(base + offset, n);
            return base + offset;
        }
        return nullptr;
    }

    // Takes back the memory of a freed buffer. Holes that reach the top
    // lower it, and whatever lies above the top is given back as well.
    void giveBack(std::size_t offset, std::size_t length) {
        madvise(base + offset, length, MADV_DONTNEED);
        auto next = holes.lower_bound(offset);
        if (next != holes.end() && offset + length == next->first) {
            length += next->second;
            next = holes.erase(next);
        }
        if (next != holes.begin()) {
            const auto prev = std::prev(next);
            if (prev->first + prev->second == offset) {
                offset = prev->first;
                length += prev->second;
                holes.erase(prev);
            }
        }
        if (offset + length == top) {
            top = offset;
            if (used > top)
                madvise(base + top, used - top, MADV_DONTNEED);
            used = top;
        } else {
            holes.emplace(offset, length);
        }
    }
};

// The regions of the process. Buffers are carved at the top of a region;
// growable ones (arenas) only where no other growable buffer is still at the
// top, preferring the region whose top was freed last: a store completing a
// block shrinks that block's arena and starts the next one right away, so
// the next arena continues where the last one ended and no gap is left.
// Fixed-size buffers fill the holes freed buffers left first.
class Pool {
public:
    // Memory for n bytes (a multiple of the page size), or null when no
    // region can be had.
    char* carve(std::size_t n, bool growable, Region*& region) {
        std::lock_guard lock(m_mutex);
        if (!growable) {
            for (const auto& r : m_regions) {
                if (char* p = r->takeHole(n)) {
                    ++r->buffers;
                    region = r.get();
                    return p;
                }
            }
        }
        Region* best = nullptr;
        for (const auto& r : m_regions)
            if (!r->open && r->bytes - r->top >= n && (!best || r->closedAt > best->closedAt))
                best = r.get();
        if (!best)
            best = addRegion();
        if (!best || best->bytes - best->top < n)
            return nullptr;
        ++best->buffers;
        best->open = growable;
        region = best;
        return best->take(n);
    }

    bool growInPlace(Region* r, char* data, std::size_t capacity, std::size_t want) {
        std::lock_guard lock(m_mutex);
        if (!r->atTop(data, capacity) || r->bytes - r->top < want - capacity)
            return false;
        r->take(want - capacity);
        r->open = true;
        return true;
    }

    // Gives back the tail beyond `want` when the buffer is at the top; the
    // next buffer carved there reuses it as it is.
    bool shrink(Region* r, char* data, std::size_t capacity, std::size_t want) {
        std::lock_guard lock(m_mutex);
        if (!r->atTop(data, capacity))
            return false;
        r->top -= capacity - want;
        close(*r);
        return true;
    }

    void free(Region* r, char* data, std::size_t capacity) {
        std::lock_guard lock(m_mutex);
        if (r->atTop(data, capacity))
            close(*r);
        if (--r->buffers > 0) {
            r->giveBack(std::size_t(data - r->base), capacity);
            return;
        }
        munmap(r->base, r->bytes);
        std::erase_if(m_regions, [r](const auto& p) { return p.get() == r; });
    }

private:
    void close(Region& r) {
        if (r.open) {
            r.open = false;
            r.closedAt = ++m_clock;
        }
    }

    Region* addRegion() {
        for (const std::size_t bytes : {kRegionBytes, kSmallRegionBytes}) {
            // Plain pages, not huge ones: a huge page is cleared in one go at
            // its first touch, under the process's memory lock, and on a
            // virtual machine that held the window's thread up for 80-120 ms
            // while a large result was read (and made the read slower, not
            // faster). Populating a buffer's range in one call already spares
            // the trap per page.
            void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            if (p == MAP_FAILED)
                continue;
            char* base = static_cast<char*>(p);
            auto r = std::make_unique<Region>();
            r->base = base;
            r->bytes = bytes;
            m_regions.push_back(std::move(r));
            return m_regions.back().get();
        }
        return nullptr;
    }

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Region>> m_regions;
    std::uint64_t m_clock = 0;
};

Pool& pool() {
    // Never destroyed: buffers of static objects may outlive any static pool.
    static Pool* p = new Pool;
    return *p;
}

} // namespace pagepool

namespace {

char* mapOwn(std::size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    populate(static_cast<char*>(p), bytes);
    return static_cast<char*>(p);
}

} // namespace

PageBuffer::~PageBuffer() {
    release();
}

void PageBuffer::release() {
    if (m_heap)
        std::free(m_data);
    else if (m_region)
        pagepool::pool().free(m_region, m_data, m_capacity);
    else if (m_data)
        munmap(m_data, m_capacity);
    m_data = nullptr;
    m_region = nullptr;
    m_heap = false;
    m_size = m_capacity = 0;
}

void PageBuffer::reserve(std::size_t n) {
    if (n <= m_capacity)
        return;
    const std::size_t want = roundToPages(n);
    if ((m_heap || !m_data) && want <= kHeapBytes) {
        const std::size_t bytes = roundForHeap(n);
        void* p = std::realloc(m_heap ? m_data : nullptr, bytes);
        if (!p)
            throw std::bad_alloc();
        m_data = static_cast<char*>(p);
        m_heap = true;
        m_capacity = bytes;
        return;
    }
    if (m_region && pagepool::pool().growInPlace(m_region, m_data, m_capacity, want)) {
        m_capacity = want;
        return;
    }
    if (m_data && !m_region && !m_heap) {
        void* p = mremap(m_data, m_capacity, want, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        m_data = static_cast<char*>(p);
        populate(m_data + m_capacity, want - m_capacity);
        m_capacity = want;
        return;
    }
    // A fresh buffer, or one that cannot grow where it is: new memory, and
    // what the old one held is moved over.
    pagepool::Region* region = nullptr;
    char* p = want <= kOwnMappingBytes ? pagepool::pool().carve(want, true, region) : nullptr;
    if (!p)
        p = mapOwn(want);
    if (m_size)
        std::memcpy(p, m_data, m_size);
    const std::size_t size = m_size;
    release();
    m_data = p;
    m_region = region;
    m_size = size;
    m_capacity = want;
}

void PageBuffer::allocateZeroed(std::size_t n) {
    release();
    const std::size_t want = roundToPages(n);
    if (want == 0)
        return;
    if (want <= kHeapBytes) {
        const std::size_t bytes = roundForHeap(n);
        m_data = static_cast<char*>(std::calloc(1, bytes));
        if (!m_data)
            throw std::bad_alloc();
        m_heap = true;
        m_capacity = bytes;
        m_size = n;
        return;
    }
    pagepool::Region* region = nullptr;
    char* p = want <= kOwnMappingBytes ? pagepool::pool().carve(want, false, region) : nullptr;
    m_data = p ? p : mapOwn(want);
    m_region = region;
    m_capacity = want;
    m_size = n;
}

void PageBuffer::shrinkToFit() {
    const std::size_t want = m_heap ? roundForHeap(m_size) : roundToPages(m_size);
    if (want >= m_capacity) {
        // Nothing to give back, but the buffer is done growing: its region may
        // take the next growing buffer at its top.
        if (m_region)
            pagepool::pool().shrink(m_region, m_data, m_capacity, m_capacity);
        return;
    }
    if (want == 0) {
        release();
        return;
    }
    if (m_heap) {
        if (void* p = std::realloc(m_data, want)) {
            m_data = static_cast<char*>(p);
            m_capacity = want;
        }
        return;
    }
    if (m_region) {
        // Below the top of its region the tail stays with the buffer.
        if (pagepool::pool().shrink(m_region, m_data, m_capacity, want))
            m_capacity = want;
        return;
    }
    munmap(m_data + want, m_capacity - want);
    m_capacity = want;
}

} // namespace data
