#include "ZeroPages.h"

#include <new>
#include <utility>

#include <sys/mman.h>

namespace vorlund {

ZeroPages::ZeroPages(size_t bytes)
{
    if (bytes == 0)
        return;
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    m_data = static_cast<uint8_t *>(p);
    m_size = bytes;
}

ZeroPages::~ZeroPages()
{
    if (m_data)
        munmap(m_data, m_size);
}

ZeroPages::ZeroPages(ZeroPages &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{ }

ZeroPages &ZeroPages::operator=(ZeroPages &&other) noexcept
{
    if (this != &other) {
        ZeroPages gone(std::move(*this));
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void ZeroPages::Reserve(size_t bytes)
{
    if (bytes > m_size)
        *this = ZeroPages(bytes);
}

} // namespace vorlund
