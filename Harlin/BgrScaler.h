#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlund::link {

// One axis of the bilinear resampling: for each output position the two source positions
// (multiplied by `stride`) and the second one's weight in 1/256. Sample positions are taken in
// 16.16 fixed point at pixel centres.
struct ScaleTap
{
    int first, second, weight;
};
std::vector<ScaleTap> ScaleTaps(int srcSize, int dstSize, int stride);

// Bilinear resampling of packed BGR into top-down packed BGR of another size, in two passes:
// each source row that is needed is scaled across once into 16-bit sums, then each output row
// blends two of those and rounds (in one go, without keeping the sums, for rows that only one
// output row reads). The arithmetic is the one-pass ResampleBgr's, so the result
// is the same to the bit; the passes run sixteen values at a time where the processor allows.
// Keeps its plan for the last sizes and its two row buffers; one per user, not thread-safe.
class BgrScaler
{
public:
    enum class Kernel : uint8_t {
        Best, // the fastest the processor runs
        Portable,
    };
    explicit BgrScaler(Kernel kernel = Kernel::Best);

    void Scale(const uint8_t *src, int srcWidth, int srcHeight, bool srcBottomUp, uint8_t *dst,
               int dstWidth, int dstHeight);

    // Whether the fast kernel is in use.
    bool Vectorised() const { return m_simd; }

private:
    void Plan(int srcWidth, int srcHeight, int dstWidth, int dstHeight);
    void PlanBlocks();
    // `count` (1 or 2) source rows across into their buffers.
    void Across(const uint8_t *const *rows, uint16_t *const *outs, int count) const;
    void AcrossPlain(const uint8_t *row, uint16_t *out, size_t begin, size_t end) const;
    void Blend(const uint16_t *top, const uint16_t *bottom, int weight, uint8_t *out) const;
    // Two new rows across and blended at once; the buffers are left holding no row.
    void AcrossBlend(const uint8_t *top, const uint8_t *bottom, int weight, uint8_t *out);

    bool m_simd = false;
    int m_srcWidth = 0, m_srcHeight = 0, m_dstWidth = 0, m_dstHeight = 0;
    size_t m_values = 0; // 3 × the output width
    size_t m_padded = 0; // m_values rounded up to whole blocks of sixteen
    // Per output value: the two source bytes and the second one's weight.
    std::vector<int32_t> m_first, m_second;
    std::vector<uint16_t> m_weight;
    std::vector<ScaleTap> m_rows;
    // Per block of sixteen values (two halves of eight): where each half's window starts in
    // the row (-1: the block is done one value at a time) and the block's plan for its vector
    // path; and which blocks take which path.
    std::vector<int32_t> m_base;
    // Blocks by kind: narrow paired, narrow, wide paired, wide; then those done plainly.
    std::array<std::vector<uint32_t>, 4> m_blocks;
    std::vector<uint32_t> m_plainBlocks;
    std::vector<uint8_t> m_plans; // 128 bytes a block
    std::vector<uint16_t> m_across[2];
    int m_acrossRow[2] = { -1, -1 };
};

} // namespace vorlund::link
