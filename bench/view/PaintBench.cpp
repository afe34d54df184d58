// Drawing one 720x576 bottom-up BGR frame into a window-like ARGB32 surface.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kW = 720;
constexpr int kH = 576;

std::vector<uint8_t> Frame()
{
    std::vector<uint8_t> f(size_t(kW) * kH * 3);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uint8_t(i * 7);
    return f;
}

void FlipTransform(benchmark::State &state)
{
    const auto frame = Frame();
    QImage surface(kW, kH, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&surface);
        const QImage image(frame.data(), kW, kH, kW * 3, QImage::Format_BGR888);
        p.translate(0, kH);
        p.scale(1, -1);
        p.drawImage(0, 0, image);
    }
}
BENCHMARK(FlipTransform);

void MirroredCopy(benchmark::State &state)
{
    const auto frame = Frame();
    QImage surface(kW, kH, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&surface);
        p.drawImage(0, 0, QImage(frame.data(), kW, kH, kW * 3, QImage::Format_BGR888).mirrored());
    }
}
BENCHMARK(MirroredCopy);

void OwnConversion(benchmark::State &state)
{
    const auto frame = Frame();
    QImage surface(kW, kH, QImage::Format_ARGB32_Premultiplied);
    QImage rgb(kW, kH, QImage::Format_RGB32);
    for (auto _ : state) {
        for (int y = 0; y < kH; ++y) {
            const uint8_t *src = frame.data() + size_t(kH - 1 - y) * kW * 3;
            auto *dst = reinterpret_cast<uint32_t *>(rgb.scanLine(y));
            for (int x = 0; x < kW; ++x, src += 3)
                dst[x] = 0xFF000000u | uint32_t(src[2]) << 16 | uint32_t(src[1]) << 8 | src[0];
        }
        QPainter p(&surface);
        p.drawImage(0, 0, rgb);
    }
}
BENCHMARK(OwnConversion);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
