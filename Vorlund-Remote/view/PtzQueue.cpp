#include "PtzQueue.h"

namespace vorlund::viewer {

void PtzQueue::Append(uint8_t bits)
{
    if (m_count == kSize) {
        m_entries[(m_read + kSize - 1) % kSize] = bits;
        return;
    }
    m_entries[(m_read + m_count) % kSize] = bits;
    ++m_count;
}

std::optional<uint8_t> PtzQueue::Take()
{
    if (m_count == 0)
        return std::nullopt;
    const uint8_t bits = m_entries[m_read];
    m_read = uint8_t((m_read + 1) % kSize);
    if (--m_count == 0)
        m_read = 0;
    return bits;
}

} // namespace vorlund::viewer
