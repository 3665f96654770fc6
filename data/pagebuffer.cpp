#include "pagebuffer.h"

#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace data {

namespace {

std::size_t pageSize()
{
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t roundToPages(std::size_t n)
{
    const std::size_t p = pageSize();
    return (n + p - 1) / p * p;
}

// Faults the range in with one call instead of one trap per page; a kernel
// that cannot do so leaves the pages to be faulted on first touch.
void populate(char* from, std::size_t n)
{
    if (n)
        madvise(from, n, MADV_POPULATE_WRITE);
}

} // namespace

PageBuffer::~PageBuffer()
{
    release();
}

PageBuffer::PageBuffer(PageBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
    , m_capacity(std::exchange(other.m_capacity, 0))
{
}

PageBuffer& PageBuffer::operator=(PageBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

void PageBuffer::release()
{
    if (m_data)
        munmap(m_data, m_capacity);
    m_data = nullptr;
    m_size = m_capacity = 0;
}

void PageBuffer::reserve(std::size_t n)
{
    if (n <= m_capacity)
        return;
    const std::size_t want = roundToPages(n);
    void* p;
    if (m_data)
        p = mremap(m_data, m_capacity, want, MREMAP_MAYMOVE);
    else
        p = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    m_data = static_cast<char*>(p);
    populate(m_data + m_capacity, want - m_capacity);
    m_capacity = want;
}

void PageBuffer::allocateZeroed(std::size_t n)
{
    release();
    reserve(n);
    m_size = n;
}

void PageBuffer::truncate(std::size_t n)
{
    if (n < m_size) {
        // Bytes beyond the size may be handed out again by append; clearing
        // is not needed because append overwrites them.
        m_size = n;
    }
}

void PageBuffer::append(const void* bytes, std::size_t n)
{
    if (m_size + n > m_capacity) {
        // Doubling is cheap: mremap moves page tables, not bytes.
        std::size_t grow = m_capacity ? m_capacity * 2 : 64 * 1024;
        while (grow < m_size + n)
            grow *= 2;
        reserve(grow);
    }
    if (n)
        std::memcpy(m_data + m_size, bytes, n);
    m_size += n;
}

void PageBuffer::shrinkToFit()
{
    const std::size_t want = roundToPages(m_size);
    if (want >= m_capacity)
        return;
    if (want == 0) {
        release();
        return;
    }
    munmap(m_data + want, m_capacity - want);
    m_capacity = want;
}

} // namespace data
