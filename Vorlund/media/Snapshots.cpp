#include "Snapshots.h"

#include "DeviceSettings.h"
#include "FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace vorlund {

namespace {

constexpr mode_t kPictureMode = 0644;
constexpr int kStampLeft = 5;
constexpr int kStampTopRow = 15; // "TimeStampCorner" set: the stamp's lowest row
constexpr int kStampBottomMargin = 5; // otherwise: this many rows up from the bottom

std::filesystem::path Numbered(const std::filesystem::path &folder, const char *format,
                               int32_t count)
{
    char name[32];
    std::snprintf(name, sizeof name, format, count);
    return folder / name;
}

std::filesystem::path CameraFolder(const std::filesystem::path &parent, int camera)
{
    return parent / ("cam" + std::to_string(camera));
}

} // namespace

std::filesystem::path SnapshotPath(const std::filesystem::path &videoFolder, int camera,
                                   int32_t count)
{
    return Numbered(CameraFolder(videoFolder, camera), "p%03d.jpg", count);
}

std::filesystem::path TimeLapsePath(const std::filesystem::path &videoFolder, int camera,
                                    int32_t count)
{
    return Numbered(CameraFolder(videoFolder / "TimeLapse", camera), "p%04d.jpg", count);
}

int32_t NextPictureNumber(int32_t count, int32_t limit)
{
    return count < 0 || count >= limit ? 1 : count + 1;
}

namespace {

// The number `name` stands for among `pathOf`'s files of 1 to `limit`; none for other files.
std::optional<int32_t> PictureNumber(const std::string &name, int32_t limit,
                                     const std::function<std::filesystem::path(int32_t)> &pathOf)
{
    constexpr std::string_view kSuffix = ".jpg";
    if (name.size() < 2 + kSuffix.size() || name.size() > 10 + kSuffix.size() || name[0] != 'p'
        || !name.ends_with(kSuffix))
        return std::nullopt;
    int32_t n = 0;
    for (size_t i = 1; i < name.size() - kSuffix.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > (limit - (name[i] - '0')) / 10)
            return std::nullopt;
        n = n * 10 + (name[i] - '0');
    }
    if (n < 1 || n > limit || pathOf(n).filename() != name)
        return std::nullopt;
    return n;
}

} // namespace

int32_t CatchUpPictureNumber(int32_t count, int32_t limit,
                             const std::function<std::filesystem::path(int32_t)> &pathOf)
{
    if (limit < 1)
        return count;
    std::error_code ec;
    std::optional<int32_t> newest;
    std::filesystem::file_time_type newestTime;
    for (std::filesystem::directory_iterator it(pathOf(1).parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::optional<int32_t> n
            = PictureNumber(it->path().filename().string(), limit, pathOf);
        std::error_code timeError;
        const auto time = n ? it->last_write_time(timeError) : newestTime;
        if (!n || timeError)
            continue;
        if (!newest || time > newestTime || (time == newestTime && *n < *newest)) {
            newest = n;
            newestTime = time;
        }
    }
    if (!newest)
        return count;
    // Equally new pictures: the last of them in sequence, across the wrap, at most one lap on.
    count = *newest;
    for (int32_t step = 1; step < limit; ++step) {
        const int32_t next = NextPictureNumber(count, limit);
        const auto time = std::filesystem::last_write_time(pathOf(next), ec);
        if (ec || time < newestTime)
            break;
        count = next;
        newestTime = time;
    }
    return count;
}

bool TimeLapseWindowOpen(const TimeWindow &w, int minuteOfDay)
{
    if (w.FromHour > 23 || w.ToHour > 23 || w.FromMinute > 59 || w.ToMinute > 59)
        return false;
    const int begin = w.FromHour * 60 + w.FromMinute;
    const int end = w.ToHour * 60 + w.ToMinute;
    if (w.ToHour < w.FromHour)
        return minuteOfDay >= begin || minuteOfDay <= end;
    return begin <= minuteOfDay && minuteOfDay <= end;
}

Snapshots::Snapshots(ServerContext &context, IMailer &mailer) : m_context(context), m_mailer(mailer)
{
    // Taking the still must not allocate: it runs under the engine lock.
    m_still.reserve(kFrameBufferSize + kTurnSlack);
}

int Snapshots::SaveSnapshot()
{
    StillInfo still;
    Rotation turn = Rotation::None;
    if (!m_context.engine.TakeStillFrame(m_still, still))
        return 0; // a repeated announcement of a still already saved
    const int camera = still.Camera;
    const bool timeLapse = still.TimeLapse;

    try {
        const bool valid = IsCamera(camera) && m_image.Adopt(m_still, still.Width, still.Height);
        // The buffer handed back is the next still's; growing it here keeps the lock short.
        m_still.reserve(kFrameBufferSize + kTurnSlack);
        if (!valid) {
            m_context.notifier.ShowMessage(kImageNotValid, kPlainCaption);
            return -1;
        }
        Stamp(m_image);
        // The turn is made while encoding.
        if (!timeLapse)
            turn = RotationFromSetting(m_context.view.Startup.ImageRotate);
    } catch (const std::bad_alloc &) {
        m_context.notifier.ShowMessage(kMemoryAllocFailed, kPlainCaption);
        return -1;
    }

    const std::filesystem::path file = timeLapse ? TimeLapseFile(camera) : MotionFile(camera);
    const char *failure = timeLapse ? "Save time-lapse image failed:\n%x - %s"
                                    : "Save snapshot image failed:\n%x - %s";
    if (!m_encoder.Encode(m_image, m_context.settings.Config.Block.JpegQuality[camera], m_jpeg,
                          turn))
        return Fail(failure, EIO, m_encoder.LastError());
    if (const int rc = WriteFileAtomically(file, m_jpeg, kPictureMode); rc != 0)
        return Fail(failure, rc, std::strerror(rc));

    if (timeLapse)
        return 0;
    if (m_context.engine.MailOnMotion[camera].load())
        m_mailer.QueueAlert(camera, file);
    m_context.shell.SetPaneText(kPaneCamera, std::to_string(camera));
    return 0;
}

void Snapshots::Stamp(StillImage &image)
{
    const TextMask mask = m_font.Render(StampText(m_context.clock.Now()));
    const int bottomRow = m_context.view.Startup.TimeStampCorner != 0
        ? kStampTopRow
        : image.Height() - kStampBottomMargin;
    image.DrawMask(mask, kStampLeft, bottomRow);
}

std::filesystem::path Snapshots::TimeLapseFile(int camera)
{
    DeviceConfig &config = m_context.settings.Config;
    const std::filesystem::path &video = m_context.view.VideoFolder;
    if (!std::exchange(m_timeLapseCaughtUp[size_t(camera)], true))
        config.TimeLapseCount[camera]
            = CatchUpPictureNumber(config.TimeLapseCount[camera], config.TimeLapseLimit[camera],
                                   [&](int32_t n) { return TimeLapsePath(video, camera, n); });
    config.TimeLapseCount[camera]
        = NextPictureNumber(config.TimeLapseCount[camera], config.TimeLapseLimit[camera]);
    const std::filesystem::path folder = m_context.view.VideoFolder / "TimeLapse";
    MakeFolder(folder, "error creating VideoPathTimeLapse directory.");
    MakeFolder(CameraFolder(folder, camera), "error creating VideoPathTimeLapseCam directory.");
    return TimeLapsePath(m_context.view.VideoFolder, camera, config.TimeLapseCount[camera]);
}

std::filesystem::path Snapshots::MotionFile(int camera)
{
    SettingsBlock &block = m_context.settings.Config.Block;
    const std::filesystem::path &video = m_context.view.VideoFolder;
    if (!std::exchange(m_motionCaughtUp[size_t(camera)], true))
        block.SnapshotCount[camera]
            = CatchUpPictureNumber(block.SnapshotCount[camera], block.SnapshotLimit,
                                   [&](int32_t n) { return SnapshotPath(video, camera, n); });
    block.SnapshotCount[camera]
        = NextPictureNumber(block.SnapshotCount[camera], block.SnapshotLimit);
    MakeFolder(CameraFolder(m_context.view.VideoFolder, camera),
               "error creating VideoPathCam directory.");
    return SnapshotPath(m_context.view.VideoFolder, camera, block.SnapshotCount[camera]);
}

// A folder that cannot be made is logged; the save is tried all the same.
bool Snapshots::MakeFolder(const std::filesystem::path &folder, std::string_view failure)
{
    std::error_code ec;
    if (std::filesystem::exists(folder, ec) || std::filesystem::create_directory(folder, ec))
        return true;
    m_context.log.AppendErrorLog(failure);
    return false;
}

int Snapshots::Fail(const char *format, int code, const std::string &text)
{
    char message[512];
    std::snprintf(message, sizeof message, format, unsigned(code), text.c_str());
    m_context.notifier.ShowMessage(message, kPlainCaption);
    return -1;
}

void Snapshots::RequestSnapshot()
{
    EngineState &e = m_context.engine;
    const int current = e.CurrentCamera.load();
    if (!m_context.view.Idle && IsCamera(current) && e.SnapOnMotion[current].load())
        e.SnapshotRequest.Request(1, false);
}

void Snapshots::OnTimeLapseTimer(int camera)
{
    if (!IsCamera(camera))
        return;
    const LocalDateTime now = m_context.clock.Now();
    if (TimeLapseWindowOpen(m_context.settings.Config.TimeLapseWindow[camera],
                            now.hour * 60 + now.minute))
        m_context.engine.SnapshotRequest.Request(camera, true);
}

void Snapshots::PlaySnapSound()
{
    m_context.sound.PlaySound(kSnapSound);
}

} // namespace vorlund
