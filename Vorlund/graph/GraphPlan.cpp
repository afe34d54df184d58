#include "GraphPlan.h"

#include "CaptureFormat.h"
#include "GraphUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
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

RecordingFile::~RecordingFile()
{
    Close();
}

RecordingFile::RecordingFile(RecordingFile &&other) noexcept
    : path(std::move(other.path)), fd(std::exchange(other.fd, -1))
{ }

RecordingFile &RecordingFile::operator=(RecordingFile &&other) noexcept
{
    if (this != &other) {
        Close();
        path = std::move(other.path);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

void RecordingFile::Close()
{
    if (fd >= 0)
        ::close(std::exchange(fd, -1)); // also drops the flock
}

std::optional<RecordingFile> CreateRecordingFile(const std::filesystem::path &folder,
                                                 const LocalDateTime &now, RecordingFormat format,
                                                 std::string *error)
{
    const std::string extension(ExtensionFor(format));
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        RecordingFile file;
        file.path = folder / (RecordingBaseName(now, attempt) + extension);
        file.fd = ::open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (file.fd < 0) {
            if (errno == EEXIST)
                continue;
            if (error)
                *error = std::strerror(errno);
            return std::nullopt;
        }
        // Nobody else can hold a lock on a file that did not exist a moment ago.
        ::flock(file.fd, LOCK_EX | LOCK_NB);
        return file;
    }
    if (error)
        *error = "every recording name of this minute is taken";
    return std::nullopt;
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
