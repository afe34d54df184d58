#pragma once

#include <array>
#include <cstdint>

namespace vorlund {

// A media subtype identifier as the settings file stores it (16 bytes, the first three
// fields little-endian).
struct Guid
{
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4 {};

    static Guid FromBytes(const std::array<uint8_t, 16> &bytes);
    std::array<uint8_t, 16> ToBytes() const;
    bool operator==(const Guid &) const = default;
};

// The video subtypes of the four-character-code family share their last three fields.
constexpr Guid FourCcGuid(uint32_t fourcc)
{
    return { fourcc, 0x0000, 0x0010, { 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 } };
}
constexpr uint32_t FourCc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16
        | uint32_t(uint8_t(d)) << 24;
}

inline constexpr Guid kSubtypeRgb24 {
    0xE436EB7D, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr Guid kSubtypeRgb32 {
    0xE436EB7E, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr Guid kSubtypeRgb565 {
    0xE436EB7B, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr Guid kSubtypeRgb555 {
    0xE436EB7C, 0x524F, 0x11CE, { 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70 }
};
inline constexpr Guid kSubtypeYuy2 = FourCcGuid(FourCc('Y', 'U', 'Y', '2'));
inline constexpr Guid kSubtypeYuyv = FourCcGuid(FourCc('Y', 'U', 'Y', 'V'));
inline constexpr Guid kSubtypeUyvy = FourCcGuid(FourCc('U', 'Y', 'V', 'Y'));
inline constexpr Guid kSubtypeYvyu = FourCcGuid(FourCc('Y', 'V', 'Y', 'U'));
inline constexpr Guid kSubtypeI420 = FourCcGuid(FourCc('I', '4', '2', '0'));
inline constexpr Guid kSubtypeIyuv = FourCcGuid(FourCc('I', 'Y', 'U', 'V'));
inline constexpr Guid kSubtypeYv12 = FourCcGuid(FourCc('Y', 'V', '1', '2'));
inline constexpr Guid kSubtypeNv12 = FourCcGuid(FourCc('N', 'V', '1', '2'));
inline constexpr Guid kSubtypeMjpg = FourCcGuid(FourCc('M', 'J', 'P', 'G'));
inline constexpr Guid kSubtypeDvsd = FourCcGuid(FourCc('d', 'v', 's', 'd'));
inline constexpr Guid kSubtypeDvsl = FourCcGuid(FourCc('d', 'v', 's', 'l'));

} // namespace vorlund
