#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vorlund::viewer {

// Pan/tilt/zoom key states waiting to go out, oldest first: a ring of 10.
class PtzQueue
{
public:
    static constexpr int kSize = 10;

    // Behind the entries not yet sent. When all 10 are waiting, the newest waiting entry is
    // replaced: it is the key state that counts, so a stop is never lost.
    void Append(uint8_t bits);
    std::optional<uint8_t> Take();
    void Clear() { m_count = m_read = 0; }
    int Count() const { return m_count; }

private:
    std::array<uint8_t, kSize> m_entries {};
    uint8_t m_count = 0;
    uint8_t m_read = 0;
};

} // namespace vorlund::viewer
