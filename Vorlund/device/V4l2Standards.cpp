#include "V4l2Standards.h"

#include <linux/videodev2.h>

namespace vorlund {

namespace {

struct StandardRow
{
    int32_t stored;
    uint64_t v4l2;
};

constexpr StandardRow kStandards[] = {
    { 0x000001, V4L2_STD_NTSC_M },
    { 0x000002, V4L2_STD_NTSC_M_JP },
    { 0x000004, V4L2_STD_NTSC_443 },
    { 0x000010, V4L2_STD_PAL_B | V4L2_STD_PAL_B1 },
    { 0x000020, V4L2_STD_PAL_D | V4L2_STD_PAL_D1 },
    { 0x000040, V4L2_STD_PAL_G },
    { 0x000080, V4L2_STD_PAL_H },
    { 0x000100, V4L2_STD_PAL_I },
    { 0x000200, V4L2_STD_PAL_M },
    { 0x000400, V4L2_STD_PAL_N },
    { 0x000800, V4L2_STD_PAL_60 },
    { 0x001000, V4L2_STD_SECAM_B },
    { 0x002000, V4L2_STD_SECAM_D },
    { 0x004000, V4L2_STD_SECAM_G },
    { 0x008000, V4L2_STD_SECAM_H },
    { 0x010000, V4L2_STD_SECAM_K },
    { 0x020000, V4L2_STD_SECAM_K1 },
    { 0x040000, V4L2_STD_SECAM_L },
    { 0x080000, V4L2_STD_SECAM_LC },
    { 0x100000, V4L2_STD_PAL_Nc },
};

} // namespace

uint64_t StandardForTvFormat(int32_t tvFormat)
{
    if (tvFormat <= 0)
        return 0;
    uint64_t standard = 0;
    for (const StandardRow &row : kStandards) {
        if (tvFormat & row.stored)
            standard |= row.v4l2;
    }
    return standard;
}

std::optional<int32_t> TvFormatForStandard(uint64_t standard)
{
    int32_t stored = 0;
    for (const StandardRow &row : kStandards) {
        if (standard & row.v4l2)
            stored |= row.stored;
    }
    if (stored == 0)
        return std::nullopt;
    return stored;
}

} // namespace vorlund
