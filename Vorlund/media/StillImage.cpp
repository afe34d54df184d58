#include "StillImage.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <turbojpeg.h>

#include <algorithm>
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

} // namespace

struct StampFont::Font
{
    QFont font;
    int ascent = 0;
    int height = 0;
};

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
    m_font = std::move(font);
}

StampFont::~StampFont() = default;

TextMask StampFont::Render(std::string_view text)
{
    TextMask mask;
    if (!m_font || text.empty())
        return mask;
    const QString string = QString::fromUtf8(text.data(), qsizetype(text.size()));
    const int width = QFontMetrics(m_font->font).horizontalAdvance(string);
    if (width <= 0 || m_font->height <= 0)
        return mask;
    QImage image(width, m_font->height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(m_font->font);
        painter.setPen(Qt::black);
        painter.drawText(0, m_font->ascent, string);
    }
    mask.width = width;
    mask.height = m_font->height;
    mask.coverage.resize(size_t(width) * size_t(mask.height));
    for (int y = 0; y < mask.height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            mask.coverage[size_t(y) * width + x] = qAlpha(line[x]) != 0 ? 255 : 0;
    }
    return mask;
}

// --- Image ----------------------------------------------------------------------------------

bool StillImage::Load(const uint8_t *bottomUpBgr, size_t length, int width, int height)
{
    if (!bottomUpBgr || width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return false;
    const size_t bytes = size_t(width) * size_t(height) * 3;
    if (length < bytes)
        return false;
    m_width = width;
    m_height = height;
    m_pixels.assign(bottomUpBgr, bottomUpBgr + bytes);
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

// Moves pixel (row r, column x) of a bottom-up w x h picture to (outRow, outColumn) of the
// turned h x w picture; tiles keep both sides in the cache.
template <typename Place> void Turn(const uint8_t *src, uint8_t *dst, int w, int h, Place place)
{
    constexpr int kTile = 32;
    for (int r0 = 0; r0 < h; r0 += kTile) {
        const int r1 = std::min(r0 + kTile, h);
        for (int x0 = 0; x0 < w; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, w);
            for (int r = r0; r < r1; ++r) {
                const uint8_t *in = src + (size_t(r) * w + x0) * 3;
                for (int x = x0; x < x1; ++x, in += 3) {
                    const auto [outRow, outColumn] = place(r, x);
                    uint8_t *out = dst + (size_t(outRow) * h + outColumn) * 3;
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                }
            }
        }
    }
}

} // namespace

void StillImage::Rotate(Rotation rotation)
{
    if (rotation == Rotation::None || m_pixels.empty())
        return;
    const int w = m_width, h = m_height;
    m_turned.resize(m_pixels.size());
    // Rows count from the bottom. A left (anticlockwise) turn puts column x on row x counted
    // from the bottom, the picture's bottom row on the right; a right turn the reverse.
    if (rotation == Rotation::Left)
        Turn(m_pixels.data(), m_turned.data(), w, h, [h](int r, int x) {
            return std::pair { x, h - 1 - r };
        });
    else
        Turn(m_pixels.data(), m_turned.data(), w, h, [w](int r, int x) {
            return std::pair { w - 1 - x, r };
        });
    m_pixels.swap(m_turned);
    std::swap(m_width, m_height);
}

// --- JPEG -----------------------------------------------------------------------------------

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
    // Encoding into our own buffer of the worst-case size: the library never reallocates it.
    jpeg.resize(capacity);
    unsigned char *out = jpeg.data();
    unsigned long size = capacity;
    if (tjCompress2(static_cast<tjhandle>(m_handle), bottomUpBgr, width, width * 3, height,
                    TJPF_BGR, &out, &size, TJSAMP_420, std::clamp(quality, 1, 100),
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC)
        != 0) {
        m_error = tjGetErrorStr2(static_cast<tjhandle>(m_handle));
        jpeg.clear();
        return false;
    }
    jpeg.resize(size);
    return true;
}

} // namespace vorlund
