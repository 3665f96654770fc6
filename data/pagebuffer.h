#pragma once
// A growable byte buffer taken straight from the kernel's page allocator.
//
// The result store fills millions of rows into per-block buffers. With heap
// vectors every growth copies the block and every fresh page costs a page
// fault. Here buffers are carved, page by page, out of large regions of
// address space, and each new range is backed with one call instead of one
// fault per page. A buffer that sits at the top of its region grows in place;
// the store writes its blocks one after the other, so a block's arena is at the top
// while it is filled and gives its unused tail back to the region when the
// block is complete. Buffers too large for a region get a mapping of their
// own, which grows by moving page tables (mremap) rather than bytes. Small
// buffers come from the C heap. allocateZeroed and growZeroed give zero
// bytes; what reserve adds is to be written before it is read.

#include <cstddef>
#include <cstring>
#include <utility>

namespace data {

namespace pagepool {
struct Region;
}

class PageBuffer {
public:
    PageBuffer() = default;
    ~PageBuffer();
    PageBuffer(PageBuffer&& other) noexcept { take(other); }
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    char* data() { return m_data; }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }

    // Makes room for at least n bytes; throws std::bad_alloc when the system
    // has no memory left.
    void reserve(std::size_t n);
    // A buffer of n zero bytes (for fixed-width arrays that are written in place).
    void allocateZeroed(std::size_t n);
    // Grows the buffer to n bytes, keeping what it holds; the bytes added are zero.
    void growZeroed(std::size_t n) {
        if (n <= m_size)
            return;
        reserve(n);
        std::memset(m_data + m_size, 0, n - m_size);
        m_size = n;
    }
    // Shrinks to n bytes; bytes beyond the size are overwritten by later appends.
    void truncate(std::size_t n) {
        if (n < m_size)
            m_size = n;
    }
    void append(const void* bytes, std::size_t n) {
        if (m_size + n > m_capacity) {
            // Doubling is cheap: the buffer grows in place at the top of its
            // region, or mremap moves page tables, not bytes.
            std::size_t grow = m_capacity ? m_capacity * 2 : 256;
            while (grow < m_size + n)
                grow *= 2;
            reserve(grow);
        }
        if (n)
            std::memcpy(m_data + m_size, bytes, n);
        m_size += n;
    }
    // Returns the pages beyond size() to the system (or to the region the
    // buffer was carved from); the buffer is taken to be done growing.
    void shrinkToFit();

private:
    void release();
    void take(PageBuffer& other) {
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_region = std::exchange(other.m_region, nullptr);
        m_heap = std::exchange(other.m_heap, false);
    }
    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;           // bytes owned, a multiple of the page size
    pagepool::Region* m_region = nullptr; // the region it was carved from; null: own mapping
    bool m_heap = false;                  // a small buffer from the C heap
};

} // namespace data
