#pragma once
// A growable byte buffer taken straight from the kernel's page allocator.
//
// The result store fills millions of rows into per-block buffers. With heap
// vectors every growth copies the block and every fresh page costs a page
// fault; here the memory is mapped pre-faulted in one call, grows by moving
// page tables (mremap) instead of copying bytes, and gives its unused tail
// back to the system when the block is complete. New memory reads as zero.

#include <cstddef>

namespace data {

class PageBuffer
{
public:
    PageBuffer() = default;
    ~PageBuffer();
    PageBuffer(PageBuffer&& other) noexcept;
    PageBuffer& operator=(PageBuffer&& other) noexcept;
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
    // Shrinks to n bytes (n <= size()).
    void truncate(std::size_t n);
    void append(const void* bytes, std::size_t n);
    // Returns the pages beyond size() to the system.
    void shrinkToFit();

private:
    void release();
    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0; // mapped bytes, a multiple of the page size
};

} // namespace data
