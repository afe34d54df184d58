#include "GraphPlan.h"

#include "CaptureFormat.h"
#include "GraphUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vorlund {

SourceKind SourceKindOf(const GstStructure *caps)
{
    if (!caps)
        return SourceKind::Other;
    const std::string_view name = gst_structure_get_name(caps);
    if (name == "video/x-raw") {
        const char *format = gst_structure_get_string(caps, "format");
        if (!format)
            return SourceKind::Other;
        const std::string_view f = format;
        if (f == "BGR")
            return SourceKind::Rgb24;
        if (f == "YUY2")
            return SourceKind::Yuy2;
        return SourceKind::Other;
    }
    if (name == "video/x-dv" && MajorTypeOf(caps) == MajorType::Interleaved)
        return SourceKind::Dv;
    return SourceKind::Other;
}

bool IsStreamSource(const GstStructure *caps)
{
    return caps && MajorTypeOf(caps) == MajorType::Stream;
}

RecordingFormat ChooseRecordingFormat(int32_t useWmProfile, std::string_view codecName)
{
    if (useWmProfile != 0)
        return RecordingFormat::Wmv;
    if (codecName.find("3ivx D4") != std::string_view::npos)
        return RecordingFormat::Mp4;
    return RecordingFormat::Avi;
}

std::string_view ExtensionFor(RecordingFormat format)
{
    switch (format) {
    case RecordingFormat::Mp4:
        return ".mp4";
    case RecordingFormat::Wmv:
        return ".wmv";
    case RecordingFormat::Avi:
        break;
    }
    return ".avi";
}

std::string RecordingBaseName(const LocalDateTime &now, int attempt)
{
    char text[64];
    std::snprintf(text, sizeof text, "v%02d-%02d-%04d-%02d%02d", now.month, now.day, now.year,
                  now.hour, now.minute);
    std::string name = text;
    if (attempt > 1)
        name += "-" + std::to_string(attempt);
    return name;
}

PictureSize DvPictureSize(const GstStructure *caps, bool fullSize)
{
    int height = 576;
    if (caps) {
        const char *format = gst_structure_get_string(caps, "format");
        if (format && std::string_view(format) == "NTSC")
            height = 480;
    }
    PictureSize size { 720, height };
    if (!fullSize)
        size = { size.width / 2, size.height / 2 };
    return size;
}

FrameRate DvFrameRate(const GstStructure *caps, bool half)
{
    const char *format = caps ? gst_structure_get_string(caps, "format") : nullptr;
    const bool ntsc = format && std::string_view(format) == "NTSC";
    FrameRate rate = ntsc ? FrameRate { 30000, 1001 } : FrameRate { 25, 1 };
    if (half)
        rate.den *= 2;
    return rate;
}

PictureSize DecodedPictureSize(const GstStructure *caps, int storedWidth, int storedHeight)
{
    int width = 0, height = 0;
    if (caps && gst_structure_get_int(caps, "width", &width)
        && gst_structure_get_int(caps, "height", &height) && width >= 16 && height >= 16
        && width <= kMaxCaptureWidth && height <= kMaxCaptureHeight)
        return { width, height };
    width = std::clamp(storedWidth, 0, kMaxCaptureWidth);
    height = std::clamp(storedHeight < 0 ? -storedHeight : storedHeight, 0, kMaxCaptureHeight);
    if (width < 16 || height < 16)
        return { 320, 240 };
    // Encoders and the colour conversions want even sizes.
    return { width & ~1, height & ~1 };
}

} // namespace vorlund
