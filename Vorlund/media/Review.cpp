#include "Review.h"

#include "DeviceSettings.h"
#include "Snapshots.h"

#include <QImage>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

namespace vorlund {

namespace {

// Snapshots are a few hundred kilobytes; anything far larger is not one of ours.
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;
// Pixels decoded at most, after libjpeg's own downscaling.
constexpr int64_t kMaxDecodePixels = int64_t(4096) * 4096;

// The size a picture is shown at while stopped: its own, shrunk to fit the box.
void FitInto(int &width, int &height, int maxWidth, int maxHeight)
{
    if (width <= maxWidth && height <= maxHeight)
        return;
    const double scale = std::min(double(maxWidth) / width, double(maxHeight) / height);
    width = std::max(1, int(std::lround(width * scale)));
    height = std::max(1, int(std::lround(height * scale)));
}

// The smallest of libjpeg's scaling factors that still covers the wanted size.
tjscalingfactor DecodeScale(int width, int height, int wantedWidth, int wantedHeight)
{
    tjscalingfactor best { 1, 1 };
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    for (int i = 0; factors && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num > f.denom)
            continue;
        if (TJSCALED(width, f) >= wantedWidth && TJSCALED(height, f) >= wantedHeight
            && TJSCALED(width, f) < TJSCALED(width, best))
            best = f;
    }
    return best;
}

bool ReadFile(const std::filesystem::path &file, std::vector<uint8_t> &bytes)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size == 0 || size > kMaxFileBytes)
        return false;
    std::ifstream in(file, std::ios::binary);
    bytes.resize(size_t(size));
    return in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(size))
        && size_t(in.gcount()) == bytes.size();
}

int32_t Wrap(int32_t number, int32_t limit)
{
    if (number > limit)
        return 1;
    if (number < 1)
        return limit;
    return number;
}

} // namespace

ReviewDecoder::ReviewDecoder() : m_handle(tjInitDecompress()) { }

ReviewDecoder::~ReviewDecoder()
{
    if (m_handle)
        tjDestroy(static_cast<tjhandle>(m_handle));
}

ReviewDecoder::Result ReviewDecoder::Load(const std::filesystem::path &file, int width, int height,
                                          int maxWidth, int maxHeight, ReviewPicture &picture)
{
    auto *handle = static_cast<tjhandle>(m_handle);
    int jpegWidth = 0, jpegHeight = 0, subsampling = 0, colourspace = 0;
    if (!handle || !ReadFile(file, m_jpeg)
        || tjDecompressHeader3(handle, m_jpeg.data(), static_cast<unsigned long>(m_jpeg.size()),
                               &jpegWidth, &jpegHeight, &subsampling, &colourspace)
            != 0
        || jpegWidth <= 0 || jpegHeight <= 0)
        return Result::Unreadable;

    if (width <= 0 || height <= 0) {
        width = jpegWidth;
        height = jpegHeight;
        FitInto(width, height, maxWidth, maxHeight);
    }
    const tjscalingfactor scale = DecodeScale(jpegWidth, jpegHeight, width, height);
    const int decodedWidth = TJSCALED(jpegWidth, scale);
    const int decodedHeight = TJSCALED(jpegHeight, scale);
    if (int64_t(decodedWidth) * decodedHeight > kMaxDecodePixels)
        return Result::Unreadable;

    QImage decoded(decodedWidth, decodedHeight, QImage::Format_BGR888);
    if (decoded.isNull())
        return Result::NotScaled;
    // A cut-off picture only warns; what did decode is shown.
    if (tjDecompress2(handle, m_jpeg.data(), static_cast<unsigned long>(m_jpeg.size()),
                      decoded.bits(), decodedWidth, int(decoded.bytesPerLine()), decodedHeight,
                      TJPF_BGR, 0)
            != 0
        && tjGetErrorCode(handle) != TJERR_WARNING)
        return Result::Unreadable;

    QImage shown = decoded.width() == width && decoded.height() == height
        ? decoded
        : decoded.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!shown.isNull() && shown.format() != QImage::Format_BGR888)
        shown = shown.convertToFormat(QImage::Format_BGR888);
    if (shown.isNull() || shown.width() != width || shown.height() != height)
        return Result::NotScaled;

    // The frame layout: bottom row first, rows unpadded.
    const size_t row = size_t(width) * 3;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(row * size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(shown.constScanLine(height - 1 - y), row,
                    picture.pixels.begin() + ptrdiff_t(row) * y);
    return Result::Ok;
}

Review::Review(ServerContext &context) : m_context(context) { }

std::string_view Review::MenuText() const
{
    return m_context.engine.ReviewMode ? kCancelReviewMenuText : kReviewMenuText;
}

int32_t Review::PictureNumber(int camera) const
{
    return camera >= 0 && camera <= kMaxCameras ? m_numbers[size_t(camera)] : 0;
}

// Only camera 1 takes time-lapse pictures; the others show their snapshots in either kind.
bool Review::ShowsTimeLapse(int camera) const
{
    return m_timeLapse && camera <= 1;
}

int32_t Review::Limit(int camera) const
{
    const DeviceConfig &config = m_context.settings.Config;
    const int32_t limit
        = ShowsTimeLapse(camera) ? config.TimeLapseLimit[1] : config.Block.SnapshotLimit;
    return std::max<int32_t>(limit, 1);
}

int32_t Review::Newest(int camera) const
{
    const DeviceConfig &config = m_context.settings.Config;
    return ShowsTimeLapse(camera) ? config.TimeLapseCount[size_t(camera)]
                                  : config.Block.SnapshotCount[size_t(camera)];
}

std::filesystem::path Review::PictureFile(int camera) const
{
    const int32_t number = m_numbers[size_t(camera)];
    return ShowsTimeLapse(camera) ? TimeLapsePath(m_context.view.VideoFolder, camera, number)
                                  : SnapshotPath(m_context.view.VideoFolder, camera, number);
}

void Review::ToggleReviewMode()
{
    const ViewState &view = m_context.view;
    const EngineState &e = m_context.engine;
    if (view.CamSettingsOpen || view.TimedZonesOpen || e.ZoneEditing || e.DialogCamera)
        return;
    if (e.ReviewMode)
        Leave();
    else
        Enter();
}

void Review::Enter()
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    const DeviceConfig &config = c.settings.Config;
    const bool anyTimeLapse
        = std::any_of(config.TimeLapseEnabled.begin() + 1, config.TimeLapseEnabled.end(),
                      [](uint8_t on) { return on != 0; });
    if (anyTimeLapse && AskReviewKind) {
        bool motion = true;
        if (!AskReviewKind(motion))
            return;
        m_timeLapse = !motion;
    }

    e.ClearHitMaps();
    m_savedWidth = c.view.DisplayWidth;
    m_savedHeight = c.view.DisplayHeight;
    e.ReviewMode = 1;
    for (int camera = 1; camera <= kMaxCameras; ++camera)
        m_numbers[size_t(camera)] = Newest(camera);

    const int cameras = std::clamp<int>(e.CameraCount, 1, kMaxCameras);
    for (int camera = 1; camera <= cameras; ++camera)
        ShowReviewImages(camera);
    c.shell.SetPaneText(kPaneState, "Review");
    if (c.view.Idle)
        c.shell.UpdateLayout(0, 0);
}

void Review::Leave()
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    e.ReviewMode = 0;
    c.shell.SetPaneText(kPaneState, "OFF");
    c.shell.SetPaneText(kPaneCamera, "0");
    if (m_savedWidth > 0 && m_savedHeight > 0) {
        c.view.DisplayWidth = m_savedWidth;
        c.view.DisplayHeight = m_savedHeight;
        c.view.Grid = ComputeZoneGrid(m_savedWidth, m_savedHeight);
    }
    c.shell.UpdateLayout(0, 0);
    // One camera: its stored picture must not pass for the live one.
    if (std::clamp<int>(e.CameraCount, 1, kMaxCameras) == 1)
        e.ClearLiveFrame(1);
    c.shell.Repaint(0);
}

void Review::ShowReviewImages(int camera)
{
    m_context.view.ReviewCamera = camera;
    ShowReviewImages();
}

void Review::ShowReviewImages()
{
    ServerContext &c = m_context;
    EngineState &e = c.engine;
    ViewState &view = c.view;
    const int review = view.ReviewCamera;
    if (review < 0 || review > kMaxCameras)
        return;
    m_numbers[size_t(review)] = Wrap(m_numbers[size_t(review)], Limit(review));

    const int cameras = std::clamp<int>(e.CameraCount, 1, kMaxCameras);
    // While capture runs the pictures take the capture size, so the detector and the viewers
    // see the geometry they were started with. While stopped one camera shows each picture at
    // its own size (within 720 x 576); several cameras share the size the tiles have, unless
    // the intro picture is still up.
    int width = 0, height = 0;
    const int frameWidth = e.FrameWidth, frameHeight = e.FrameHeight;
    if (!view.Idle && frameWidth > 0 && frameHeight > 0
        && size_t(frameWidth) * size_t(frameHeight) * 3 <= kFrameBufferSize) {
        width = frameWidth;
        height = frameHeight;
    } else if (view.Idle && cameras > 1 && !view.IntroShown && view.DisplayWidth > 0
               && view.DisplayHeight > 0 && view.DisplayWidth <= kReviewMaxWidth
               && view.DisplayHeight <= kReviewMaxHeight) {
        width = view.DisplayWidth;
        height = view.DisplayHeight;
    }

    bool shown = false;
    for (int camera = 1; camera <= cameras; ++camera) {
        if (review != 0 && review != camera)
            continue;
        if (review == 0)
            m_numbers[size_t(camera)] = Wrap(m_numbers[size_t(camera)], Limit(camera));
        const ReviewDecoder::Result result = m_decoder.Load(
            PictureFile(camera), width, height, kReviewMaxWidth, kReviewMaxHeight, m_picture);
        if (result != ReviewDecoder::Result::Ok) {
            c.notifier.ShowMessage(result == ReviewDecoder::Result::Unreadable ? kEndOfImageList
                                                                               : kBadImageEncode,
                                   kPlainCaption);
            return;
        }
        e.WriteLiveFrame(camera, m_picture.pixels.data(), m_picture.pixels.size());
        // The first picture fixes the size the others of this refresh are made to.
        width = m_picture.width;
        height = m_picture.height;
        shown = true;
    }
    if (!shown)
        return; // a camera this device does not have

    view.IntroShown = false;
    const bool resized = view.DisplayWidth != width || view.DisplayHeight != height;
    view.DisplayWidth = width;
    view.DisplayHeight = height;
    if (resized || review == 0) {
        view.Grid = ComputeZoneGrid(width, height);
        c.shell.UpdateLayout(0, 0);
    }
    c.shell.Repaint(0);
}

void Review::OnReviewKey(int key, bool shift)
{
    ViewState &view = m_context.view;
    if (!view.Idle && !m_context.engine.ReviewMode)
        return;
    int step = 0;
    if (key == kReviewKeyBackspace)
        step = shift ? -10 : -1;
    else if (key == kReviewKeySpace)
        step = shift ? 10 : 1;
    const int review = view.ReviewCamera;
    if (step == 0 || review < 0 || review > kMaxCameras)
        return;
    const auto moved = [](int32_t number, int step) {
        return int32_t(std::clamp<int64_t>(int64_t(number) + step,
                                           std::numeric_limits<int32_t>::min(),
                                           std::numeric_limits<int32_t>::max()));
    };
    if (review == 0) {
        // All cameras move together, from camera 4's number.
        const int32_t all = moved(m_numbers[kMaxCameras], step < 0 ? -1 : 1);
        for (int camera = 1; camera <= kMaxCameras; ++camera)
            m_numbers[size_t(camera)] = all;
    }
    m_numbers[size_t(review)] = moved(m_numbers[size_t(review)], step);
    ShowReviewImages();
}

} // namespace vorlund
