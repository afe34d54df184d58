#include "MediaGuid.h"

#include <cstddef>

namespace vorlund {

Guid Guid::FromBytes(const std::array<uint8_t, 16> &b)
{
    Guid g;
    g.Data1 = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    g.Data2 = uint16_t(b[4] | b[5] << 8);
    g.Data3 = uint16_t(b[6] | b[7] << 8);
    for (size_t i = 0; i < 8; ++i)
        g.Data4[i] = b[8 + i];
    return g;
}

std::array<uint8_t, 16> Guid::ToBytes() const
{
    std::array<uint8_t, 16> b {};
    for (size_t i = 0; i < 4; ++i)
        b[i] = uint8_t(Data1 >> (8 * i));
    b[4] = uint8_t(Data2);
    b[5] = uint8_t(Data2 >> 8);
    b[6] = uint8_t(Data3);
    b[7] = uint8_t(Data3 >> 8);
    for (size_t i = 0; i < 8; ++i)
        b[8 + i] = Data4[i];
    return b;
}

} // namespace vorlund
