#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace mendrel {

using FourCC = std::array<char, 4>;

constexpr FourCC MakeFourCC(std::string_view s)
{
    return { s[0], s[1], s[2], s[3] };
}

inline bool IsFourCC(const uint8_t *p, std::string_view s)
{
    return std::memcmp(p, s.data(), 4) == 0;
}

inline uint16_t Le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint64_t Le64(const uint8_t *p)
{
    return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32);
}

inline void PutLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void PutLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

inline void PutLe64(uint8_t *p, uint64_t v)
{
    PutLe32(p, uint32_t(v));
    PutLe32(p + 4, uint32_t(v >> 32));
}

// Appends little-endian values to a growing byte image (index chunks, legacy index).
class ByteWriter
{
public:
    explicit ByteWriter(std::vector<uint8_t> &out) : m_out(out) { }
    void FourCC(const mendrel::FourCC &f) { m_out.insert(m_out.end(), f.begin(), f.end()); }
    void FourCC(std::string_view s) { m_out.insert(m_out.end(), s.begin(), s.begin() + 4); }
    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v)
    {
        uint8_t b[2];
        PutLe16(b, v);
        m_out.insert(m_out.end(), b, b + 2);
    }
    void U32(uint32_t v)
    {
        uint8_t b[4];
        PutLe32(b, v);
        m_out.insert(m_out.end(), b, b + 4);
    }
    void U64(uint64_t v)
    {
        U32(uint32_t(v));
        U32(uint32_t(v >> 32));
    }
    void Zeros(size_t n) { m_out.insert(m_out.end(), n, 0); }

private:
    std::vector<uint8_t> &m_out;
};

} // namespace mendrel
