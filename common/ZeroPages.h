// A buffer mapped from the system's zeroed pages: a page takes memory only once it is written,
// so a worst-case buffer of which most is never touched costs only what is used.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlund {

class ZeroPages
{
public:
    ZeroPages() = default;
    explicit ZeroPages(size_t bytes); // throws std::bad_alloc when the mapping fails
    ~ZeroPages();
    ZeroPages(ZeroPages &&other) noexcept;
    ZeroPages &operator=(ZeroPages &&other) noexcept;
    ZeroPages(const ZeroPages &) = delete;
    ZeroPages &operator=(const ZeroPages &) = delete;

    // At least bytes long; a larger mapping replaces the old one, whose contents are dropped.
    void Reserve(size_t bytes);
    uint8_t *Data() { return m_data; }
    const uint8_t *Data() const { return m_data; }

private:
    uint8_t *m_data = nullptr;
    size_t m_size = 0;
};

} // namespace vorlund
