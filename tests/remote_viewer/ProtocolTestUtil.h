#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlund::viewer::test {

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += char(uint8_t(v));
    return s;
}

inline std::string LittleEndian32(int32_t v)
{
    const auto u = uint32_t(v);
    return Bytes({ int(u & 0xFF), int(u >> 8 & 0xFF), int(u >> 16 & 0xFF), int(u >> 24) });
}

// A hello: standard letter, password flag byte, scheme byte, size, count, then `ptz` (0-4
// flag bytes; a real server sends all four).
inline std::string Hello(char standard, char password, char scheme, int32_t width, int32_t height,
                         int16_t count, const std::string &ptz)
{
    std::string s = ">HEL";
    s += standard;
    s += 'x';
    s += password;
    s += scheme;
    s += LittleEndian32(width);
    s += LittleEndian32(height);
    s += Bytes({ count & 0xFF, (count >> 8) & 0xFF });
    return s + ptz;
}

inline std::string FrameReply(int camera, const std::string &body)
{
    return ":HE" + Bytes({ camera }) + LittleEndian32(int32_t(body.size())) + body;
}

inline std::string FrameHeader(int camera, int32_t length)
{
    return ":HE" + Bytes({ camera }) + LittleEndian32(length);
}

inline std::string Body(size_t size, int seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char(uint8_t(i * 31 + size_t(seed)));
    return s;
}

} // namespace vorlund::viewer::test
