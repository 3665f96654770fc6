// PageBuffer on the C heap (calloc, realloc, free): the result store without
// its page pool, for bench-fetch-heap. Linked ahead of the data library, so
// its definitions take the place of data/pagebuffer.cpp's.

#include "data/pagebuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace data {

PageBuffer::~PageBuffer() {
    release();
}

void PageBuffer::release() {
    std::free(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
}

void PageBuffer::reserve(std::size_t n) {
    if (n <= m_capacity)
        return;
    void* p = std::realloc(m_data, n);
    if (!p)
        throw std::bad_alloc();
    m_data = static_cast<char*>(p);
    m_capacity = n;
}

void PageBuffer::allocateZeroed(std::size_t n) {
    release();
    if (n == 0)
        return;
    m_data = static_cast<char*>(std::calloc(n, 1));
    if (!m_data)
        throw std::bad_alloc();
    m_size = m_capacity = n;
}

void PageBuffer::shrinkToFit() {
    if (m_size == 0) {
        release();
        return;
    }
    if (void* p = std::realloc(m_data, m_size)) {
        m_data = static_cast<char*>(p);
        m_capacity = m_size;
    }
}

} // namespace data
