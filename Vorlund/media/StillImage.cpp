#include "StillImage.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <turbojpeg.h>

#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <cstdio>
#include <cstring>

namespace vorlund {

Rotation RotationFromSetting(std::string_view imageRotate)
{
    if (imageRotate.find('L') != std::string_view::npos)
        return Rotation::Left;
    if (imageRotate.find('R') != std::string_view::npos)
        return Rotation::Right;
    return Rotation::None;
}

std::string StampText(const LocalDateTime &now)
{
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d", now.month, now.day, now.year,
                  now.hour, now.minute, now.second);
    return text;
}

// --- Stamp font -----------------------------------------------------------------------------

namespace {

constexpr int kCellHeight = 15;
constexpr int kWeight = 600;
// The characters of stamp texts, and the longest text put together from their glyphs.
constexpr std::string_view kStampCharacters = "0123456789-: ";
constexpr size_t kLongestKept = 64;

} // namespace

struct StampFont::Font
{
    QFont font;
    int ascent = 0;
    int height = 0;

    // A stamp character's coverage in a box that starts kMargin pixels left of its pen
    // position (a glyph may reach past its cell either way), and the box's covered columns.
    struct Glyph
    {
        int first = 0, last = -1;
        TextMask box;
    };
    static constexpr int kMargin = kCellHeight;
    double advance = 0;
    std::array<Glyph, 128> glyphs;
    std::vector<int> widths; // a text's width by its length; empty: glyphs are not used

    TextMask Paint(const QString &text, int width, int x) const;
    TextMask Paint(const QString &text) const
    {
        return Paint(text, QFontMetrics(font).horizontalAdvance(text), 0);
    }
    void KeepGlyphs();
    bool Kept(std::string_view text) const;
    void Compose(std::string_view text, int width, TextMask &mask) const;
};

// The text painted at pen position x into a box `width` pixels wide.
TextMask StampFont::Font::Paint(const QString &text, int width, int x) const
{
    TextMask mask;
    if (width <= 0 || height <= 0)
        return mask;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(x, ascent, text);
    }
    mask.width = width;
    mask.height = height;
    mask.coverage.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int c = 0; c < width; ++c)
            mask.coverage[size_t(y) * width + c] = qAlpha(line[c]) != 0 ? 255 : 0;
    }
    return mask;
}

// Painting text is costly and, snapshots being rare, always runs from a cold cache. So the
// stamp's characters are painted once each and later put side by side at the pen positions
// the painter uses (the whole pixel at or left of each). That is kept only when a text holding
// every pair of them comes out the same, pixel for pixel, so no saved picture changes.
void StampFont::Font::KeepGlyphs()
{
    const QFontMetricsF metrics(font);
    advance = metrics.horizontalAdvance(QChar(u'0'));
    for (const char c : kStampCharacters)
        if (metrics.horizontalAdvance(QChar(c)) != advance)
            return; // not monospaced
    const int boxWidth = int(std::ceil(advance)) + 2 * kMargin;
    for (const char c : kStampCharacters) {
        Glyph &glyph = glyphs[size_t(c)];
        glyph.box = Paint(QString(QChar(c)), boxWidth, kMargin);
        glyph.first = boxWidth;
        for (int y = 0; y < glyph.box.height; ++y)
            for (int x = 0; x < boxWidth; ++x)
                if (glyph.box.coverage[size_t(y) * boxWidth + x] != 0) {
                    glyph.first = std::min(glyph.first, x);
                    glyph.last = std::max(glyph.last, x);
                }
        if (glyph.first == 0 || glyph.last == boxWidth - 1)
            return; // the box may have cut it off
    }
    std::string probe;
    for (const char a : kStampCharacters)
        for (const char b : kStampCharacters)
            probe += { a, b };
    const TextMask painted = Paint(QString::fromStdString(probe));
    TextMask side;
    Compose(probe, painted.width, side);
    if (side.coverage != painted.coverage)
        return;
    const QFontMetrics whole(font);
    widths.resize(kLongestKept + 1);
    for (size_t n = 1; n <= kLongestKept; ++n)
        widths[n] = whole.horizontalAdvance(QString(qsizetype(n), QChar(u'0')));
}

bool StampFont::Font::Kept(std::string_view text) const
{
    if (text.size() >= widths.size())
        return false;
    for (const char c : text)
        if (uint8_t(c) >= glyphs.size() || glyphs[uint8_t(c)].box.coverage.empty())
            return false;
    return true;
}

void StampFont::Font::Compose(std::string_view text, int width, TextMask &mask) const
{
    mask.width = width;
    mask.height = height;
    mask.coverage.assign(size_t(width) * size_t(height), 0);
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph &glyph = glyphs[uint8_t(text[i])];
        const int left = int(std::floor(double(i) * advance)) - kMargin; // the box's column 0
        const int first = std::max(glyph.first, -left);
        const int last = std::min(glyph.last, width - 1 - left);
        for (int y = 0; y < height; ++y) {
            const uint8_t *in = glyph.box.coverage.data() + size_t(y) * size_t(glyph.box.width);
            uint8_t *out = mask.coverage.data() + size_t(y) * size_t(width) + left;
            for (int x = first; x <= last; ++x)
                out[x] |= in[x];
        }
    }
}

StampFont::StampFont()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    auto font = std::make_unique<Font>();
    font->font = QFont(QStringLiteral("courier"));
    font->font.setStyleHint(QFont::TypeWriter, QFont::NoAntialias);
    font->font.setWeight(static_cast<QFont::Weight>(kWeight));
    // The size is the text cell's height (ascent and descent together), as the stamp has
    // always been drawn; Qt's pixel size is the em, so shrink it until the cell fits.
    for (int pixels = kCellHeight; pixels > 4; --pixels) {
        font->font.setPixelSize(pixels);
        if (QFontMetrics(font->font).height() <= kCellHeight)
            break;
    }
    const QFontMetrics metrics(font->font);
    font->ascent = metrics.ascent();
    font->height = metrics.height();
    font->KeepGlyphs();
    m_font = std::move(font);
}

StampFont::~StampFont() = default;

TextMask StampFont::Render(std::string_view text)
{
    TextMask mask;
    if (!m_font || text.empty())
        return mask;
    if (!m_font->Kept(text))
        return Paint(text);
    m_font->Compose(text, m_font->widths[text.size()], mask);
    return mask;
}

TextMask StampFont::Paint(std::string_view text)
{
    if (!m_font || text.empty())
        return {};
    return m_font->Paint(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

bool StampFont::KeepsGlyphs() const
{
    return m_font && !m_font->widths.empty();
}

// --- Image ----------------------------------------------------------------------------------

bool StillImage::Load(const uint8_t *bottomUpBgr, size_t length, int width, int height)
{
    if (!bottomUpBgr || !Fits(length, width, height))
        return false;
    m_pixels.assign(bottomUpBgr, bottomUpBgr + length);
    return Adopt(m_pixels, width, height);
}

bool StillImage::Fits(size_t length, int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide
        && length >= size_t(width) * size_t(height) * 3;
}

bool StillImage::Adopt(std::vector<uint8_t> &pixels, int width, int height)
{
    if (!Fits(pixels.size(), width, height))
        return false;
    if (&pixels != &m_pixels)
        m_pixels.swap(pixels);
    m_width = width;
    m_height = height;
    m_pixels.resize(size_t(width) * size_t(height) * 3 + kTurnSlack);
    return true;
}

void StillImage::DrawMask(const TextMask &mask, int x, int bottomRow)
{
    const int top = bottomRow - mask.height + 1;
    for (int my = 0; my < mask.height; ++my) {
        const int row = top + my; // from the top of the picture
        if (row < 0 || row >= m_height)
            continue;
        uint8_t *line = m_pixels.data() + size_t(m_height - 1 - row) * size_t(m_width) * 3;
        const uint8_t *cover = mask.coverage.data() + size_t(my) * mask.width;
        for (int mx = 0; mx < mask.width; ++mx) {
            const int column = x + mx;
            if (cover[mx] && column >= 0 && column < m_width)
                std::memset(line + size_t(column) * 3, 0, 3);
        }
    }
}

namespace {

// A turn writes rows of h pixels, `dstStride` bytes apart, from a w x h rectangle whose rows lie
// `srcStride` bytes apart (a strip of a wider picture). Source row r, column x lands on row x,
// column h - 1 - r (left) or on row w - 1 - x, column r (right); rows count from the bottom.
struct TurnArea
{
    const uint8_t *src;
    size_t srcStride;
    uint8_t *dst;
    size_t dstStride;
    int w, h;
    bool left;

    uint8_t *Target(int x, int r) const
    {
        return dst + (left ? size_t(x) : size_t(w - 1 - x)) * dstStride
            + (left ? size_t(h - 1 - r) : size_t(r)) * 3;
    }
    const uint8_t *Source(int x, int r) const
    {
        return src + size_t(r) * srcStride + size_t(x) * 3;
    }
};

// Every pixel outside the first `blockW` columns of the first `blockH` rows: the edges a vector
// kernel's blocks do not fill, or the whole area when both are 0.
void TurnEdges(const TurnArea &a, int blockW, int blockH)
{
    if (blockW < a.w)
        for (int r = 0; r < blockH; ++r)
            for (int x = blockW; x < a.w; ++x)
                std::memcpy(a.Target(x, r), a.Source(x, r), 3);
    for (int r = blockH; r < a.h; ++r)
        for (int x = 0; x < a.w; ++x)
            std::memcpy(a.Target(x, r), a.Source(x, r), 3);
}

// Tiles of 16 x 16 pixels keep both sides in the cache.
void TurnPlainArea(const TurnArea &a)
{
    constexpr int kTile = 16;
    for (int r0 = 0; r0 < a.h; r0 += kTile) {
        const int r1 = std::min(r0 + kTile, a.h);
        for (int x0 = 0; x0 < a.w; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, a.w);
            for (int r = r0; r < r1; ++r)
                for (int x = x0; x < x1; ++x)
                    std::memcpy(a.Target(x, r), a.Source(x, r), 3);
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Blocks of 4 x 4 pixels: each row of four widened to 32-bit lanes, the block transposed as
// floats, the lanes packed back to 3 bytes and written as exactly 12 bytes. Reads run up to 4
// bytes past a row's last pixel, so the source needs kTurnSlack bytes after the picture.
__attribute__((target("ssse3"))) inline __m128 WidenFour(const uint8_t *p, __m128i widen)
{
    return _mm_castsi128_ps(
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), widen));
}

// Packs four 32-bit lanes back to 3-byte pixels and writes exactly 12 bytes.
__attribute__((target("ssse3"))) inline void StoreTwelve(uint8_t *out, __m128i lanes, __m128i pack)
{
    const __m128i v = _mm_shuffle_epi8(lanes, pack);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), v);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
    std::memcpy(out + 8, &tail, 4);
}

template <bool Left> __attribute__((target("ssse3"))) void TurnSsse3(const TurnArea &a)
{
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    // Left: the four source rows land right to left in the output row; right: left to right.
    const __m128i pack = Left
        ? _mm_setr_epi8(12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2, -1, -1, -1, -1)
        : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const uint8_t *const src = a.src;
    uint8_t *const dst = a.dst;
    const size_t stride = a.srcStride, dstStride = a.dstStride;
    const int w = a.w, h = a.h, w4 = w & ~3, h4 = h & ~3;
    const ptrdiff_t step = Left ? ptrdiff_t(dstStride) : -ptrdiff_t(dstStride);
    constexpr int kTile = 16;
    for (int r0 = 0; r0 < h4; r0 += kTile) {
        const int r1 = std::min(r0 + kTile, h4);
        for (int x0 = 0; x0 < w4; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, w4);
            for (int r = r0; r < r1; r += 4) {
                for (int x = x0; x < x1; x += 4) {
                    const uint8_t *in = src + size_t(r) * stride + size_t(x) * 3;
                    __m128 a0 = WidenFour(in, widen), a1 = WidenFour(in + stride, widen);
                    __m128 a2 = WidenFour(in + 2 * stride, widen);
                    __m128 a3 = WidenFour(in + 3 * stride, widen);
                    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
                    uint8_t *out = Left ? dst + size_t(x) * dstStride + size_t(h - 4 - r) * 3
                                        : dst + size_t(w - 1 - x) * dstStride + size_t(r) * 3;
                    StoreTwelve(out, _mm_castps_si128(a0), pack);
                    StoreTwelve(out + step, _mm_castps_si128(a1), pack);
                    StoreTwelve(out + 2 * step, _mm_castps_si128(a2), pack);
                    StoreTwelve(out + 3 * step, _mm_castps_si128(a3), pack);
                }
            }
        }
    }
    TurnEdges(a, w4, h4);
}

// Blocks of 8 x 8 pixels: each row of eight loaded as two halves of twelve bytes into the two
// lanes and widened to 32 bits, the block transposed, each column packed back to 24 bytes.
// For a left turn the rows go in from the top down, so every column comes out in the order
// its output row wants. Reads run up to 4 bytes past a row's last pixel, as above.
__attribute__((target("avx2"))) inline __m256i WidenEight(const uint8_t *p, __m256i widen)
{
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1),
                               widen);
}

// Packs eight 32-bit lanes back to 3-byte pixels: 24 bytes, and with `Exact` false 4 bytes
// more that the next block of the same output rows writes over.
template <bool Exact>
__attribute__((target("avx2"))) inline void StoreColumn(uint8_t *out, __m256i lanes, __m256i pack,
                                                        __m256i join)
{
    if constexpr (Exact) {
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(lanes, pack), join);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16),
                         _mm256_extracti128_si256(packed, 1));
    } else {
        const __m256i packed = _mm256_shuffle_epi8(lanes, pack);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(packed));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 12),
                         _mm256_extracti128_si256(packed, 1));
    }
}

// Eight source rows from `in` (the block's first, then a step of `down` bytes) into eight
// output rows from `out`, `step` bytes apart, 8 pixels of each.
template <bool Exact>
__attribute__((target("avx2"))) inline void TurnRowsAvx2(const uint8_t *in, ptrdiff_t down,
                                                         uint8_t *out, ptrdiff_t step, int w8,
                                                         __m256i widen, __m256i pack, __m256i join)
{
    for (int x = 0; x < w8; x += 8, in += 24, out += 8 * step) {
        const __m256i v0 = WidenEight(in, widen), v1 = WidenEight(in + down, widen);
        const __m256i v2 = WidenEight(in + 2 * down, widen);
        const __m256i v3 = WidenEight(in + 3 * down, widen);
        const __m256i v4 = WidenEight(in + 4 * down, widen);
        const __m256i v5 = WidenEight(in + 5 * down, widen);
        const __m256i v6 = WidenEight(in + 6 * down, widen);
        const __m256i v7 = WidenEight(in + 7 * down, widen);
        const __m256i t0 = _mm256_unpacklo_epi32(v0, v1), t1 = _mm256_unpackhi_epi32(v0, v1);
        const __m256i t2 = _mm256_unpacklo_epi32(v2, v3), t3 = _mm256_unpackhi_epi32(v2, v3);
        const __m256i t4 = _mm256_unpacklo_epi32(v4, v5), t5 = _mm256_unpackhi_epi32(v4, v5);
        const __m256i t6 = _mm256_unpacklo_epi32(v6, v7), t7 = _mm256_unpackhi_epi32(v6, v7);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
        const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
        const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
        // Column j of the block, its eight pixels from the block's first row on.
        StoreColumn<Exact>(out, _mm256_permute2x128_si256(u0, u4, 0x20), pack, join);
        StoreColumn<Exact>(out + step, _mm256_permute2x128_si256(u1, u5, 0x20), pack, join);
        StoreColumn<Exact>(out + 2 * step, _mm256_permute2x128_si256(u2, u6, 0x20), pack, join);
        StoreColumn<Exact>(out + 3 * step, _mm256_permute2x128_si256(u3, u7, 0x20), pack, join);
        StoreColumn<Exact>(out + 4 * step, _mm256_permute2x128_si256(u0, u4, 0x31), pack, join);
        StoreColumn<Exact>(out + 5 * step, _mm256_permute2x128_si256(u1, u5, 0x31), pack, join);
        StoreColumn<Exact>(out + 6 * step, _mm256_permute2x128_si256(u2, u6, 0x31), pack, join);
        StoreColumn<Exact>(out + 7 * step, _mm256_permute2x128_si256(u3, u7, 0x31), pack, join);
    }
}

template <bool Left> __attribute__((target("avx2"))) void TurnAvx2(const TurnArea &a)
{
    // The same byte moves in both lanes.
    const __m256i widen = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    const __m256i pack = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const size_t stride = a.srcStride, dstStride = a.dstStride;
    const int w = a.w, h = a.h, w8 = w & ~7, h8 = h & ~7;
    // Output rows of neighbouring source columns: down the output for a left turn, up for right.
    const ptrdiff_t step = Left ? ptrdiff_t(dstStride) : -ptrdiff_t(dstStride);
    const ptrdiff_t down = Left ? -ptrdiff_t(stride) : ptrdiff_t(stride);
    // The blocks go along the output rows (left: from the top source rows down), so each one's
    // 4 bytes of overhang are written over by the next; the last one is written exactly.
    for (int k = 0; k < h8; k += 8) {
        const int r = Left ? h8 - 8 - k : k;
        const uint8_t *in = a.src + size_t(Left ? r + 7 : r) * stride;
        uint8_t *out = Left ? a.dst + size_t(h - 8 - r) * 3
                            : a.dst + size_t(w - 1) * dstStride + size_t(r) * 3;
        if (k + 8 < h8)
            TurnRowsAvx2<false>(in, down, out, step, w8, widen, pack, join);
        else
            TurnRowsAvx2<true>(in, down, out, step, w8, widen, pack, join);
    }
    TurnEdges(a, w8, h8);
}
#endif

bool Supported(TurnKernel kernel)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    return kernel == TurnKernel::Plain || (kernel == TurnKernel::Ssse3 && ssse3)
        || (kernel == TurnKernel::Avx2 && avx2);
#else
    return kernel == TurnKernel::Plain;
#endif
}

void TurnWith(const TurnArea &a, TurnKernel kernel)
{
    switch (kernel) {
#if defined(__x86_64__) || defined(__i386__)
    case TurnKernel::Avx2:
        return a.left ? TurnAvx2<true>(a) : TurnAvx2<false>(a);
    case TurnKernel::Ssse3:
        return a.left ? TurnSsse3<true>(a) : TurnSsse3<false>(a);
#endif
    default:
        return TurnPlainArea(a);
    }
}

// The fastest kernel this processor runs.
TurnKernel BestKernel()
{
    static const TurnKernel best = Supported(TurnKernel::Avx2) ? TurnKernel::Avx2
        : Supported(TurnKernel::Ssse3)                         ? TurnKernel::Ssse3
                                                               : TurnKernel::Plain;
    return best;
}

} // namespace

bool Turn(TurnKernel kernel, const uint8_t *src, uint8_t *dst, int w, int h, bool left)
{
    if (!Supported(kernel))
        return false;
    TurnWith({ src, size_t(w) * 3, dst, size_t(h) * 3, w, h, left }, kernel);
    return true;
}

void StillImage::Rotate(Rotation rotation)
{
    if (rotation == Rotation::None || m_pixels.empty())
        return;
    m_turned.resize(m_pixels.size());
    // A left turn is anticlockwise: the top edge becomes the left edge.
    Turn(BestKernel(), m_pixels.data(), m_turned.data(), m_width, m_height,
         rotation == Rotation::Left);
    m_pixels.swap(m_turned);
    std::swap(m_width, m_height);
}

// --- JPEG -----------------------------------------------------------------------------------

namespace {

// Asks for `bytes` from each of `rows` rows `stride` apart, into the cache ahead of their use.
void Prefetch(const uint8_t *p, size_t stride, int rows, int bytes)
{
    for (int r = 0; r < rows; ++r, p += stride) {
        for (int o = 0; o < bytes; o += 64)
            __builtin_prefetch(p + o);
        __builtin_prefetch(p + bytes - 1);
    }
}

} // namespace

// A turned picture is encoded through the libjpeg interface a band of output rows at a time:
// each band is turned into a small buffer that stays in the cache while it is encoded, instead
// of a separate pass over the whole picture. The settings are those tjCompress2 uses for BGR
// input at 4:2:0, so the bytes are the same as encoding the turned picture with it.
struct JpegEncoder::Banded
{
    static constexpr int kBand = 32; // output rows per band: two 4:2:0 MCU rows
    static constexpr int kChunk = 64; // source rows turned between two rounds of fetching

    jpeg_compress_struct cinfo {};
    jpeg_error_mgr err {};
    jpeg_destination_mgr dest {};
    std::jmp_buf jump {};
    char message[JMSG_LENGTH_MAX] = {};

    Banded()
    {
        cinfo.err = jpeg_std_error(&err);
        err.error_exit = [](j_common_ptr c) {
            Banded *self = static_cast<Banded *>(c->client_data);
            (*c->err->format_message)(c, self->message);
            std::longjmp(self->jump, 1);
        };
        err.output_message = [](j_common_ptr) {};
        cinfo.client_data = this;
        jpeg_create_compress(&cinfo);
        dest.init_destination = [](j_compress_ptr) {};
        // The buffer holds the worst case; running out of it is an error.
        dest.empty_output_buffer = [](j_compress_ptr c) -> boolean {
            c->err->msg_code = JERR_BUFFER_SIZE;
            (*c->err->error_exit)(reinterpret_cast<j_common_ptr>(c));
            return FALSE;
        };
        dest.term_destination = [](j_compress_ptr) {};
        cinfo.dest = &dest;
    }
    ~Banded() { jpeg_destroy_compress(&cinfo); }
    Banded(const Banded &) = delete;
    Banded &operator=(const Banded &) = delete;

    // Only plain data lives in this frame, so the error jump leaves nothing to unwind.
    bool Encode(const uint8_t *src, int w, int h, bool left, int quality, uint8_t *out,
                size_t capacity, uint8_t *band, size_t &size)
    {
        if (setjmp(jump)) {
            jpeg_abort_compress(&cinfo);
            return false;
        }
        dest.next_output_byte = out;
        dest.free_in_buffer = capacity;
        cinfo.image_width = JDIMENSION(h);
        cinfo.image_height = JDIMENSION(w);
        cinfo.in_color_space = JCS_EXT_BGR;
        cinfo.input_components = 3;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        cinfo.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
        jpeg_set_colorspace(&cinfo, JCS_YCbCr);
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor = 2;
        for (int c = 1; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = 1;
            cinfo.comp_info[c].v_samp_factor = 1;
        }
        jpeg_start_compress(&cinfo, TRUE);

        // The output is h wide and w high; its top row is the source's last column (left
        // turn) or its first (right turn).
        const size_t srcStride = size_t(w) * 3, outRow = size_t(h) * 3;
        const TurnKernel kernel = BestKernel();
        JSAMPROW rows[kBand];
        // The source columns of a band, in the order the turned strip has them.
        const auto firstColumn = [&](int top, int n) { return left ? w - top - n : top; };
        for (int top = 0; top < w; top += kBand) {
            const int n = std::min(kBand, w - top);
            const int first = firstColumn(top, n);
            const int nextN = std::min(kBand, w - top - n);
            const uint8_t *next = src + size_t(firstColumn(top + n, nextN)) * 3;
            // A band's pieces lie a source row apart, a stride the processor does not foresee:
            // the next band's are fetched while this one is turned and encoded.
            for (int r0 = 0; r0 < h; r0 += kChunk) {
                const int r1 = std::min(r0 + kChunk, h);
                if (nextN > 0)
                    Prefetch(next + size_t(r0) * srcStride, srcStride, r1 - r0, nextN * 3);
                TurnWith({ src + size_t(r0) * srcStride + size_t(first) * 3, srcStride,
                           band + size_t(left ? h - r1 : r0) * 3, outRow, n, r1 - r0, left },
                         kernel);
            }
            // The strip's rows count from the bottom, so its last row is the band's first.
            for (int i = 0; i < n; ++i)
                rows[i] = band + size_t(n - 1 - i) * outRow;
            for (int done = 0; done < n;)
                done += int(jpeg_write_scanlines(&cinfo, rows + done, JDIMENSION(n - done)));
        }
        jpeg_finish_compress(&cinfo);
        size = capacity - dest.free_in_buffer;
        return true;
    }
};

JpegEncoder::JpegEncoder() : m_handle(tjInitCompress()) { }

JpegEncoder::~JpegEncoder()
{
    if (m_handle)
        tjDestroy(static_cast<tjhandle>(m_handle));
}

bool JpegEncoder::Encode(const uint8_t *bottomUpBgr, int width, int height, int quality,
                         std::vector<uint8_t> &jpeg)
{
    jpeg.clear();
    if (!m_handle) {
        m_error = "JPEG encoder not available";
        return false;
    }
    if (!bottomUpBgr || width <= 0 || height <= 0) {
        m_error = "no image";
        return false;
    }
    const unsigned long capacity = tjBufSize(width, height, TJSAMP_420);
    if (capacity == static_cast<unsigned long>(-1)) {
        m_error = tjGetErrorStr2(static_cast<tjhandle>(m_handle));
        return false;
    }
    // Encoding into a kept buffer of the worst-case size: the library never reallocates it, and
    // only the pages a picture reaches take memory.
    m_buffer.Reserve(capacity);
    unsigned char *out = m_buffer.Data();
    unsigned long size = capacity;
    if (tjCompress2(static_cast<tjhandle>(m_handle), bottomUpBgr, width, width * 3, height,
                    TJPF_BGR, &out, &size, TJSAMP_420, std::clamp(quality, 1, 100),
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC)
        != 0) {
        m_error = tjGetErrorStr2(static_cast<tjhandle>(m_handle));
        return false;
    }
    jpeg.assign(m_buffer.Data(), m_buffer.Data() + size);
    return true;
}

bool JpegEncoder::Encode(const StillImage &image, int quality, std::vector<uint8_t> &jpeg,
                         Rotation turn)
{
    if (turn == Rotation::None)
        return Encode(image, quality, jpeg);
    jpeg.clear();
    const int w = image.Width(), h = image.Height();
    if (!image.Data() || w <= 0 || h <= 0) {
        m_error = "no image";
        return false;
    }
    const unsigned long capacity = tjBufSize(h, w, TJSAMP_420);
    if (capacity == static_cast<unsigned long>(-1)) {
        m_error = "picture too large";
        return false;
    }
    if (!m_banded)
        m_banded = std::make_unique<Banded>();
    m_buffer.Reserve(capacity);
    m_band.resize(size_t(Banded::kBand) * size_t(h) * 3);
    size_t size = 0;
    if (!m_banded->Encode(image.Data(), w, h, turn == Rotation::Left, std::clamp(quality, 1, 100),
                          m_buffer.Data(), capacity, m_band.data(), size)) {
        m_error = m_banded->message;
        return false;
    }
    jpeg.assign(m_buffer.Data(), m_buffer.Data() + size);
    return true;
}

} // namespace vorlund
